// Helper for tst_settings_hostile: saves `count` values named <prefix>0, <prefix>1, ...
// through the settings store, one store and one save each, as a separate process would.
// Exits 0 when every save succeeded, else prints the failure and exits 1.
#include "platform/Exception.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    const QString prefix = args.at(1);
    const int count = args.at(2).toInt();
    try {
        for (int i = 0; i < count; ++i) {
            SettingsStore store;
            store.WriteString(QStringLiteral("Config"), prefix + QString::number(i),
                              QStringLiteral("%1 value %2").arg(prefix).arg(i));
        }
    } catch (const Exception &e) {
        QTextStream(stderr) << e.message() << '\n';
        return 1;
    }
    return 0;
}
