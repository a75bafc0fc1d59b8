#pragma once

// What the settings dialog's test programs share: a settings file of their own in a
// temporary folder, the fake platform, errors collected instead of shown, the dialog
// opened and shown, and its controls found by their names. Header only.
#include "platform/ErrorReport.h"
#include "platform/FakePlatform.h"
#include "platform/JapaneseFonts.h"
#include "settings/SettingsStore.h"
#include "setup/Setup.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// The settings dialog opens no modal dialog of its own in these tests.
class NoDialogs final : public SetupDialogs
{
public:
    std::optional<QString> chooseFramePicture(QWidget *, const QString &) override { return std::nullopt; }
    std::optional<QColor> chooseColor(QWidget *, const QColor &) override { return std::nullopt; }
    std::optional<QString> chooseFolder(QWidget *) override { return std::nullopt; }
    void showMessage(QWidget *, const QString &) override {}
};

inline QString stored(const QString &name)
{
    const SettingsStore store;
    return store.ReadString(SettingNames::Section, name, QStringLiteral("<absent>"));
}

inline void store(const QString &name, const QString &text)
{
    SettingsStore s;
    s.WriteString(SettingNames::Section, name, text);
}

template <typename T> T *control(const QWidget &dialog, const char *name)
{
    T *found = dialog.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// The mail group's controls: enabled exactly while its check box is on.
inline const char *const kMailControls[] = {"lblHost",   "lblUserID",   "lblPassword",  "lblRoundTime", "edtHost",
                                            "edtUserID", "medPassword", "speRoundTime", "btnMailCheck"};

// Base of the settings dialog's test classes. Each test starts from an empty settings
// file on the fake platform, and what the dialog reports as an error lands in m_errors.
class SetupFixture : public QObject
{
protected:
    // From initTestCase: the Japanese captions get a font, errors come to m_errors.
    void setUpProgram()
    {
        installJapaneseFontSubstitutions();
        setErrorSink([this](const QString &text) { m_errors << text; });
    }

    // From init; false when there is no temporary folder to keep the settings in.
    [[nodiscard]] bool setUpTest()
    {
        if (!m_home.isValid())
            return false;
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        QFile::remove(SettingsStore::filePath());
        m_platform = &FakePlatform::installFake();
        m_errors.clear();
        return true;
    }

    // The dialog, shown, asking `dialogs` for its modal dialogs and redrawing `sample`.
    static std::unique_ptr<TSetupForm> showDialog(std::unique_ptr<SetupDialogs> dialogs = std::make_unique<NoDialogs>(),
                                                  TSampleForm *sample = nullptr)
    {
        auto dialog = std::make_unique<TSetupForm>(std::move(dialogs), nullptr, sample);
        dialog->show();
        return dialog;
    }

    QTemporaryDir m_home;
    FakePlatform *m_platform = nullptr;
    QStringList m_errors;
};
