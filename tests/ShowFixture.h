#pragma once

// What the show window's test programs share: settings in a temporary folder of the
// program's own, the Japanese captions with a font, errors collected instead of shown,
// and each test on a fresh fake platform with no preview parent. Header only.
#include "platform/ErrorReport.h"
#include "platform/FakePlatform.h"
#include "platform/JapaneseFonts.h"
#include "platform/PreviewParent.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

// Base of the show window's test classes; m_pictures is the picture folder each class
// fills in its own way.
class ShowFixture : public QObject
{
protected:
    // From initTestCase; false when there is no temporary folder to keep the settings in.
    [[nodiscard]] bool setUpProgram()
    {
        if (!m_home.isValid())
            return false;
        qputenv("XDG_CONFIG_HOME", m_home.path().toLocal8Bit());
        installJapaneseFontSubstitutions();
        setErrorSink([this](const QString &text) { m_errors << text; });
        return true;
    }

    // From init.
    void setUpTest()
    {
        m_platform = &FakePlatform::installFake();
        m_errors.clear();
        setPreviewParent(0);
    }

    QTemporaryDir m_home;
    QString m_pictures;
    FakePlatform *m_platform = nullptr;
    QStringList m_errors;
};
