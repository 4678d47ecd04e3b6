#include "app/RemoteControl.h"

#include "app/AppModel.h"
#include "protocol/TransError.h"
#include "trans/TransPayload.h"

#include <QDir>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace orvane {

namespace {

RemoteControl::Refused refused(RemoteControl::Refusal kind, const QString& message) {
    return {kind, message};
}

RemoteControl::Refused refused(RemoteControl::Refusal kind, TransError::Code code) {
    return {kind, TransError(code).errorDescription()};
}

} // namespace

RemoteControl::RemoteControl(AppModel& model, std::function<void()> showWindow, QObject* parent)
    : QObject(parent)
    , model_(model)
    , showWindow_(std::move(showWindow)) {
    connect(&model_, &AppModel::itemReceived, this, &RemoteControl::itemReceived);
    SerialService& serial = model_.serial();
    for (auto changed : {&SerialService::portsChanged, &SerialService::selectedPathChanged,
                         &SerialService::statusTextChanged, &SerialService::isConnectedChanged}) {
        connect(&serial, changed, this, &RemoteControl::refreshLinkValues);
    }
    for (auto changed :
         {&BleLink::deviceChanged, &BleLink::connectedChanged, &BleLink::stateChanged}) {
        connect(&model_.bleLink(), changed, this, &RemoteControl::refreshLinkValues);
    }
    connect(&model_.bluetooth(), &BluetoothService::statusTextChanged, this,
            &RemoteControl::refreshLinkValues);
    connect(&model_.sends(), &SendController::transferChanged, this,
            &RemoteControl::refreshLinkValues);
    linkValues_ = currentLinkValues();
}

Result<RemoteControl::Job, RemoteControl::Refused> RemoteControl::sendText(const QString& text) {
    const qint64 size = text.toUtf8().size();
    if (size == 0) {
        return fail(refused(Refusal::invalidArgument, TransError::Code::emptyPayload));
    }
    if (size > TransPayload::maxTextBytes) {
        return fail(refused(Refusal::tooLarge, TransError::Code::transferTooLarge));
    }
    ClipboardEntry entry;
    entry.kind = ClipboardKind::text;
    entry.text = text;
    entry.dataSize = size;
    return start(entry);
}

Result<RemoteControl::Job, RemoteControl::Refused> RemoteControl::sendFile(const QString& path) {
    if (auto checked = checkPath(path); !checked) {
        return fail(checked.error());
    }
    ClipboardEntry entry;
    entry.kind = ClipboardKind::files;
    entry.files = {path};
    entry.text = path;
    return start(entry);
}

Result<RemoteControl::Job, RemoteControl::Refused> RemoteControl::sendImage(const QString& path) {
    if (auto checked = checkPath(path); !checked) {
        return fail(checked.error());
    }
    ClipboardEntry entry;
    entry.kind = ClipboardKind::image;
    entry.text = QStringLiteral("[截图]");
    entry.imagePath = path;
    return start(entry);
}

Result<RemoteControl::Job, RemoteControl::Refused> RemoteControl::sendEntry(qint64 id) {
    Q_ASSERT(thread() == QThread::currentThread());
    // Looked up as it is on screen: the entry's size is not needed, and an image's would
    // be read from the disk.
    const ClipboardState& state = model_.clipboardState();
    if (state.current.id == id && id != 0) {
        return start(state.current);
    }
    for (const ClipboardEntry& entry : state.history) {
        if (entry.id == id) {
            return start(entry);
        }
    }
    return fail(refused(Refusal::notFound, QStringLiteral("找不到剪贴板记录")));
}

Status<RemoteControl::Refused> RemoteControl::checkPath(const QString& path) {
    if (path.trimmed().isEmpty()) {
        return fail(refused(Refusal::invalidArgument, TransError::Code::filePathMissing));
    }
    if (!QDir::isAbsolutePath(path)) {
        return fail(refused(Refusal::invalidArgument, QStringLiteral("路径不是绝对路径: ") + path));
    }
    return Done{};
}

Result<RemoteControl::Job, RemoteControl::Refused>
RemoteControl::start(const ClipboardEntry& entry) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (!model_.activeLink().state().isLive()) {
        return fail(refused(Refusal::notConnected, TransError::Code::serialClosed));
    }
    SendController& sends = model_.sends();
    // Unlike a click in the window, a request from elsewhere never ends a send under way:
    // whoever started that one is still waiting for it.
    if (sends.isBusy()) {
        return fail(refused(Refusal::busy, TransError::Code::sendBusy));
    }
    const Job job = ++lastJob_;
    SendController::Observer observer;
    // The send may outlast this object while the program quits. Progress already arrives
    // from the event loop, after the caller has had its answer; the end may come at once
    // (a send refused before it began), so it is queued behind that answer.
    QPointer<RemoteControl> self(this);
    observer.progress = [self, job](int percent) {
        if (self) {
            emit self->jobProgress(job, percent);
        }
    };
    observer.finished = [self, job](SendController::Outcome outcome, const QString& message,
                                    qint64 bytes) {
        if (!self) {
            return;
        }
        self->running_.erase(job);
        QMetaObject::invokeMethod(
            self.data(),
            [self, job, outcome, message, bytes] {
                if (self) {
                    emit self->jobFinished(job, outcome, message, quint64(bytes));
                }
            },
            Qt::QueuedConnection);
    };
    running_[job] = 0;
    const quint64 number = sends.send(entry, std::move(observer));
    if (const auto it = running_.find(job); it != running_.end()) {
        it->second = number;
    }
    return job;
}

Status<RemoteControl::Refused> RemoteControl::cancel(Job job) {
    Q_ASSERT(thread() == QThread::currentThread());
    if (job == 0 || job > lastJob_) {
        return fail(refused(Refusal::notFound, QStringLiteral("找不到发送任务 %1").arg(job)));
    }
    if (const auto it = running_.find(job); it != running_.end()) {
        model_.sends().cancel(it->second);
    }
    return Done{};
}

QList<ClipboardEntry> RemoteControl::history() const {
    return model_.clipboardState().history;
}

void RemoteControl::showWindow() {
    if (showWindow_) {
        showWindow_();
    }
}

void RemoteControl::refreshLinkValues() {
    LinkValues values = currentLinkValues();
    if (values == linkValues_) {
        return;
    }
    linkValues_ = std::move(values);
    emit linkValuesChanged();
}

RemoteControl::LinkValues RemoteControl::currentLinkValues() const {
    LinkValues values;
    const LinkSelection selection = model_.links().selection();
    SerialService& serial = model_.serial();
    if (const auto* ble = std::get_if<BleLinkChoice>(&selection)) {
        values.link = LinkInUse::ble;
        values.port = ble->id;
        values.deviceName = ble->name;
        values.statusText = model_.bluetooth().statusText();
    } else {
        values.statusText = serial.statusText();
        if (const auto* port = std::get_if<SerialLinkChoice>(&selection)) {
            values.link = LinkInUse::serial;
            values.port = port->path;
            for (const SerialPortInfo& info : serial.ports()) {
                if (info.path == port->path && info.label != info.path) {
                    values.deviceName = info.label;
                }
            }
        }
    }
    values.phase = model_.activeLink().state().phase;
    values.sending = model_.sends().isSending();
    return values;
}

} // namespace orvane
