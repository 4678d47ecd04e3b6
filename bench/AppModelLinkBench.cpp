// The application model receiving from a device over a pseudo-terminal.
//
// BM_PushModelAgainstBareResponder: the simulated device pushes a 4 MiB file in 65000-byte
// chunks, in each round to a fresh AppModel in this process (serial service, receiver
// storing every chunk, the file put on the clipboard through an in-memory clipboard and
// its history row written to SQLite) and right after to a responder that acknowledges
// every TRANS frame at once and stores nothing, the bound the link itself sets. Target: the
// model reaches at least 90 % of it.
//
// A round's time runs from the push command until the device has its last reply and, for
// the model, the item is in the history and on the clipboard; both sides are timed alike,
// on this process's clock, while it serves its event loop. The counters give the medians,
// the spread of the per-round ratio, the device's own times (push_start to push_done), and
// what each side adds to them (for the model: putting the item on the clipboard and into
// the stored history on the main thread, which the device does not wait for).

#include "LinkBenchSupport.h"
#include "app/AppModel.h"
#include "clipboard/QtClipboardTimers.h"
#include "common/Result.h"
#include "support/DevsimProcess.h"
#include "support/FakeClipboardIO.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace orvane;
using namespace orvane::bench;

namespace {

struct Timed {
    double wallMs = 0;   // command to done, on this process's clock
    double deviceMs = 0; // push_start to push_done, on the device's
};

// Serves the event loop until the device reports `kind` (and `landed` holds, when given),
// looking on every output of the device and every change of the model's history.
std::optional<QJsonObject> serveUntil(DevsimProcess& device, const QString& kind,
                                      const std::function<bool()>& landed, int timeoutMs,
                                      AppModel* model = nullptr) {
    std::optional<QJsonObject> event;
    QEventLoop loop;
    const auto check = [&] {
        if (!event) {
            event = device.waitFor(kind, {}, 0);
        }
        if (event && (!landed || landed())) {
            loop.quit();
        }
    };
    QObject::connect(&device.process, &QProcess::readyReadStandardOutput, &loop, check);
    if (model) {
        QObject::connect(model, &AppModel::clipboardStateChanged, &loop, check);
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check();
    if (!event || (landed && !landed())) {
        loop.exec();
    }
    return event && (!landed || landed()) ? event : std::nullopt;
}

Result<Timed, QString> timePush(DevsimProcess& device, const QString& file,
                                const std::function<bool()>& landed, AppModel* model) {
    QElapsedTimer clock;
    clock.start();
    device.command(QStringLiteral("file ") + file);
    const auto done = serveUntil(device, QStringLiteral("push_done"), landed, pushWaitMs, model);
    const double wallMs = double(clock.nsecsElapsed()) / 1e6;
    if (!done || !done->value(QStringLiteral("ok")).toBool()) {
        return fail(done ? done->value(QStringLiteral("reason")).toString()
                         : QStringLiteral("no push_done, or the item did not land"));
    }
    return Timed{wallMs, double(done->value(QStringLiteral("elapsedUs")).toInteger()) / 1000.0};
}

// The second of two pushes a moment apart: the first warms up the receiving side.
Result<Timed, QString> timeWarmPush(DevsimProcess& device, PushSetup& setup,
                                    const std::function<std::function<bool()>()>& landing,
                                    AppModel* model = nullptr) {
    if (auto first = timePush(device, setup.nextName(), landing(), model); !first) {
        return first;
    }
    serveUntil(device, QStringLiteral("never"), {}, 300);
    return timePush(device, setup.nextName(), landing(), model);
}

bool waitForAnsweredProbe(DevsimProcess& device) {
    device.skipPending();
    return serveUntil(device, QStringLiteral("probe_matched"), {}, 15000).has_value();
}

void BM_PushModelAgainstBareResponder(benchmark::State& state) {
    application();
    PushSetup setup;
    qputenv("XDG_DATA_HOME", setup.dir.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", setup.dir.filePath(QStringLiteral("config")).toUtf8());
    DevsimProcess device({QStringLiteral("--interval"), QStringLiteral("200"),
                          QStringLiteral("--chunk-size"), QStringLiteral("65000")});
    if (!device.waitFor(QStringLiteral("plugged"))) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    std::vector<double> modelMs, bareMs, ratios, modelDeviceMs, bareDeviceMs, modelOverMs,
        bareOverMs;
    for (auto _ : state) {
        Result<Timed, QString> model = fail(QStringLiteral("the model did not answer probes"));
        {
            FakeClipboardIO io;
            QtClipboardTimers timers;
            AppModel::Parts parts;
            parts.serialPlatform = ProtocolStack::singlePortPlatform(device.link);
            parts.clipboardIO = &io;
            parts.clipboardTimers = &timers;
            AppModel app(std::move(parts));
            QCoreApplication::processEvents(); // startup()
            // Chosen once; later rounds start with it saved. Choosing it again would reopen
            // the port the start has just opened.
            if (app.settings().serialPort != device.link) {
                app.selectSerialPort(device.link);
            }
            if (waitForAnsweredProbe(device)) {
                model = timeWarmPush(
                    device, setup,
                    [&] {
                        const int before = io.writes;
                        return std::function<bool()>([&io, &app, before] {
                            return io.writes > before && io.content.kind == ClipboardKind::files &&
                                   !app.clipboardState().history.isEmpty() &&
                                   app.clipboardState().history[0].id > 0 &&
                                   app.clipboardState().history[0].files == io.content.files;
                        });
                    },
                    &app);
            }
            app.shutdown();
            serveUntil(device, QStringLiteral("never"), {}, 100);
        }
        Result<Timed, QString> bare = fail(QStringLiteral("the responder did not answer"));
        {
            BareResponder responder(device.link);
            if (responder.isRunning() && waitForAnsweredProbe(device)) {
                bare = timeWarmPush(device, setup, [] { return std::function<bool()>(); });
            }
        }
        if (!model || !bare) {
            state.SkipWithError(qPrintable(QStringLiteral("push failed: ") +
                                           (model ? bare.error() : model.error())));
            return;
        }
        modelMs.push_back(model->wallMs);
        bareMs.push_back(bare->wallMs);
        modelDeviceMs.push_back(model->deviceMs);
        bareDeviceMs.push_back(bare->deviceMs);
        modelOverMs.push_back(model->wallMs - model->deviceMs);
        bareOverMs.push_back(bare->wallMs - bare->deviceMs);
        ratios.push_back(bare->wallMs / model->wallMs);
        state.SetIterationTime((model->wallMs + bare->wallMs) / 1000.0);
    }
    state.counters["model_ms"] = median(modelMs);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["model_device_ms"] = median(modelDeviceMs);
    state.counters["bare_device_ms"] = median(bareDeviceMs);
    state.counters["model_over_device_ms"] = median(modelOverMs);
    state.counters["bare_over_device_ms"] = median(bareOverMs);
    state.counters["model_MBps"] = double(pushBytes) / 1e3 / median(modelMs);
    state.counters["bare_MBps"] = double(pushBytes) / 1e3 / median(bareMs);
    state.counters["ratio_pct_median"] = 100.0 * median(ratios);
    state.counters["ratio_pct_min"] = 100.0 * *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_pct_max"] = 100.0 * *std::max_element(ratios.begin(), ratios.end());
}
BENCHMARK(BM_PushModelAgainstBareResponder)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
