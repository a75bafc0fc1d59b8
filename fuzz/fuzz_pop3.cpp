// The POP3 client against a loopback peer that plays the fuzzer's bytes: the input is cut
// after each LF; the first piece is the greeting, and each further piece is sent once the
// client has said its next line. The peer closes the connection when the pieces run out.
// A check may fail in any way the client reports (an Exception); it must not crash, hang
// past its time-out, or leave a socket behind.
#include "mail/Pop3Client.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "tests/ScriptedPeer.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {

constexpr int kMaxPieces = 12;

QCoreApplication &application()
{
    static int argc = 1;
    static char name[] = "fuzz_pop3";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    application();
    setErrorSink([](const QString &) {});
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    PeerScript script;
    qsizetype start = 0;
    for (int piece = 0; piece < kMaxPieces && start < input.size(); ++piece) {
        const qsizetype end = input.indexOf('\n', start);
        const qsizetype next = end < 0 ? input.size() : end + 1;
        if (piece > 0)
            script += C(""); // the client's next line, whatever it is
        script += raw(input.mid(start, next - start));
        start = next;
    }
    script += closeConnection();

    ScriptedPeer peer(script);
    {
        TPop3Client client;
        client.Host = QStringLiteral("127.0.0.1");
        client.Port = peer.port();
        client.TimeOut = 200;
        client.UserID = QStringLiteral("alice");
        client.Password = QStringLiteral("secret");
        client.OnConnect = [&client](QObject *) { client.Disconnect(); };
        try {
            client.Connect();
        } catch (const Exception &) {
        }
        if (client.Connected())
            client.Abort();
    }
    // Let the peer see the close before it goes.
    QCoreApplication::processEvents();
    return 0;
}
