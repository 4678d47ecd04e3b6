#pragma once

#include <QtGlobal>

#include <chrono>

namespace orvane {

// Every period, wait and delay of the serial service. The defaults are the production
// values; tests shrink them so that a reconnect cycle takes milliseconds.
struct SerialServiceTimings {
    using ms = std::chrono::milliseconds;

    ms healthCheckInterval{2000};
    ms echoCheckInterval{10000};
    // A live link that heard no ECHO for longer than this is reopened.
    ms echoTimeout{10000};

    ms reconnectCooldown{2000};
    ms deviceGoneReconnectDelay{500};
    ms minFatalReconnectDelay{3000};
    ms maxFatalReconnectDelay{12000};
    ms fatalDelayStep{2000};         // per further fatal disconnect in a row
    ms quickDeathDelayPenalty{3000}; // per quick death, added to the fatal wait
    ms quickDeathCeilingRaise{2000}; // per quick death, added to the ceiling
    ms quickDeathLifetime{5000};     // a fatal end sooner than this is a quick death
    ms stableLifetime{20000};        // a session living this long forgives one quick death

    ms settleDelay{500};
    ms fatalSettleDelay{5000};
    ms quickDeathSettlePenalty{1000};
    ms preOpenSleepUnit{500};

    ms attemptPortWait{2000}; // wait for the path inside a connection attempt
    ms retryPortWait{10000};  // wait for the path inside the open retries
    ms portReenumerateWait{12000};
    ms portWaitStep{500};
    ms emptyEnumerationRetry{100};
    ms busyRetryStep{200};
    ms sessionStopWait{3000};
    ms sessionStopStep{50};

    ms portListRefreshInterval{5000};
    ms occupierCheckInterval{8000};
    ms statusRefreshInterval{1000};
    ms reconnectLogInterval{5000};

    ms logUIInterval{500};
    ms issueSummaryDelay{2000};

    // Every duration multiplied by `factor`, for tests.
    SerialServiceTimings scaled(double factor) const {
        SerialServiceTimings t = *this;
        for (ms* field : {&t.healthCheckInterval,
                          &t.echoCheckInterval,
                          &t.echoTimeout,
                          &t.reconnectCooldown,
                          &t.deviceGoneReconnectDelay,
                          &t.minFatalReconnectDelay,
                          &t.maxFatalReconnectDelay,
                          &t.fatalDelayStep,
                          &t.quickDeathDelayPenalty,
                          &t.quickDeathCeilingRaise,
                          &t.quickDeathLifetime,
                          &t.stableLifetime,
                          &t.settleDelay,
                          &t.fatalSettleDelay,
                          &t.quickDeathSettlePenalty,
                          &t.preOpenSleepUnit,
                          &t.attemptPortWait,
                          &t.retryPortWait,
                          &t.portReenumerateWait,
                          &t.portWaitStep,
                          &t.emptyEnumerationRetry,
                          &t.busyRetryStep,
                          &t.sessionStopWait,
                          &t.sessionStopStep,
                          &t.portListRefreshInterval,
                          &t.occupierCheckInterval,
                          &t.statusRefreshInterval,
                          &t.reconnectLogInterval,
                          &t.logUIInterval,
                          &t.issueSummaryDelay}) {
            *field = ms(qint64(double(field->count()) * factor));
        }
        return t;
    }
};

} // namespace orvane
