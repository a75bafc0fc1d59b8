// Helper for tst_settings_hostile, a separate process that uses the settings as another
// instance would:
//   settings_writer PREFIX COUNT  saves COUNT values named PREFIX0, PREFIX1, ... through
//                                 the store, one store and one save each; exits 0 when
//                                 every save succeeded, else prints the failure, exits 1.
//   settings_writer hold          takes the save lock, prints "held" and keeps it until
//                                 its standard input closes.
#include "platform/Exception.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QLockFile>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args.at(1) == QLatin1String("hold")) {
        const SettingsStore makesTheFolder;
        QLockFile lock(SettingsStore::lockFilePath());
        if (!lock.tryLock(0))
            return 1;
        QTextStream(stdout) << "held" << Qt::endl;
        QFile input;
        if (input.open(stdin, QIODevice::ReadOnly))
            input.readAll();
        return 0;
    }
    if (args.size() != 3)
        return 2;
    const QString prefix = args.at(1);
    const int count = args.at(2).toInt();
    // Back to back with another process's saves, one save here may wait through many of
    // the other's: the test is about what is kept, not about how long a save may wait.
    SaveLockWait patient;
    patient.patienceMs = 240000;
    try {
        for (int i = 0; i < count; ++i) {
            SettingsStore store(patient);
            store.WriteString(QStringLiteral("Config"), prefix + QString::number(i),
                              QStringLiteral("%1 value %2").arg(prefix).arg(i));
        }
    } catch (const Exception &e) {
        QTextStream(stderr) << e.message() << '\n';
        return 1;
    }
    return 0;
}
