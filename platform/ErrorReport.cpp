#include "platform/ErrorReport.h"

#include "platform/Exception.h"
#include "platform/TerminationSignal.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace {
ErrorSink &installedSink()
{
    static ErrorSink sink;
    return sink;
}
} // namespace

void setErrorSink(ErrorSink sink)
{
    installedSink() = std::move(sink);
}

QString applicationTitle()
{
    const QString path = QCoreApplication::applicationFilePath();
    if (!path.isEmpty())
        return QFileInfo(path).completeBaseName();
    return QStringLiteral("pantel");
}

void reportError(const QString &text)
{
    if (installedSink()) {
        installedSink()(text);
        return;
    }
    // Once SIGTERM has come the program is ending: a box now would hold it up for no one.
    if (qobject_cast<QApplication *>(QCoreApplication::instance()) && !terminationPending()) {
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok);
        box.exec();
        return;
    }
    qWarning("%s", qPrintable(text));
}

bool runGuarded(const std::function<void()> &work) noexcept
{
    try {
        work();
        return true;
    } catch (const Exception &e) {
        reportError(e.message());
    } catch (const std::exception &e) {
        reportError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reportError(QStringLiteral("Unknown error"));
    }
    return false;
}
