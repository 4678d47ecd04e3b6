#pragma once

#include "app/AppModel.h"
#include "app/ProtocolStack.h"
#include "support/FakeClipboardIO.h"
#include "support/FakeClipboardTimers.h"
#include "ui/AppModelBinding.h"
#include "ui/AppShell.h"
#include "ui/ClipboardImageCache.h"

#include <QTemporaryDir>

#include <memory>

namespace orvane::test {

// The desktop program's objects as its main() builds them (model, shell, binding) on
// temporary XDG directories, with an in-memory clipboard and a clock the test moves.
// Widget test fixtures derive from it next to ::testing::Test.
class DesktopScene {
public:
    DesktopScene() {
        qputenv("XDG_DATA_HOME", data.filePath(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", data.filePath(QStringLiteral("config")).toUtf8());
    }
    ~DesktopScene() { tearDownScene(); }

    // A model on this serial port, with the scene's clipboard and clock.
    AppModel::Parts sceneParts(const QString& port) {
        AppModel::Parts parts;
        parts.serialPlatform = ProtocolStack::singlePortPlatform(port);
        parts.clipboardIO = &io;
        parts.clipboardTimers = &clock;
        return parts;
    }

    // The model, then the shell and the binding that joins them; nothing started yet.
    void buildScene(AppModel::Parts parts) {
        model = std::make_unique<AppModel>(std::move(parts));
        shell = std::make_unique<AppShell>(false, images);
        binding = std::make_unique<AppModelBinding>(*model, *shell);
    }

    // In the program's order: the binding and the window go first, then the model.
    void tearDownScene() {
        binding.reset();
        shell.reset();
        if (model) {
            model->shutdown();
        }
        model.reset();
    }

    QTemporaryDir data;
    FakeClipboardIO io;
    FakeClipboardTimers clock;
    ClipboardImageCache images;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<AppShell> shell;
    std::unique_ptr<AppModelBinding> binding;
};

} // namespace orvane::test
