#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

// One step of a conversation the peer plays: send a line ("S:"), expect a line from the
// client ("C:"), send raw bytes, pause, or close the connection.
struct PeerStep
{
    enum Kind { Send, Expect, Raw, Pause, Close };
    Kind kind;
    QByteArray data;
    int pause = 0;
};
using PeerScript = QList<PeerStep>;

inline PeerScript S(const QByteArray &line)
{
    return {{PeerStep::Send, line + "\r\n"}};
}
inline PeerScript C(const QByteArray &line)
{
    return {{PeerStep::Expect, line}};
}
inline PeerScript raw(const QByteArray &bytes)
{
    return {{PeerStep::Raw, bytes}};
}
inline PeerScript pauseFor(int ms)
{
    return {{PeerStep::Pause, {}, ms}};
}
inline PeerScript closeConnection()
{
    return {{PeerStep::Close, {}}};
}

inline PeerScript greetingSequence()
{
    return S("+OK POP3 ready");
}
inline PeerScript loginSequence(const QByteArray &user = "alice", const QByteArray &password = "secret")
{
    return greetingSequence() + C("USER " + user) + S("+OK") + C("PASS " + password) + S("+OK logged in");
}
inline PeerScript statSequence(const QByteArray &reply = "+OK 3 1200")
{
    return C("STAT") + S(reply);
}
inline PeerScript quitSequence()
{
    return C("QUIT") + S("+OK bye") + closeConnection();
}

// A port on 127.0.0.1 where nothing listens (it was free a moment ago): connecting there
// is refused at once. 0 when no port could be had.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A POP3 server on 127.0.0.1 (any free port) that plays a script to the first client
// and records what the client said. It runs on the test's own thread: the client serves
// the event queue while it waits, and so drives the peer.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(PeerScript script = {}, const QHostAddress &address = QHostAddress::LocalHost)
        : m_script(std::move(script))
    {
        m_server.listen(address, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            QTcpSocket *client = m_server.nextPendingConnection();
            ++connections;
            if (m_client && m_series && m_client->state() == QAbstractSocket::UnconnectedState) {
                // A series: the last client has gone, so this one gets a fresh script.
                m_client->deleteLater();
                m_client = nullptr;
                m_script = m_series(connections - 1);
                m_position = 0;
                m_paused = false;
                m_pending.clear();
                m_lines.clear();
                received.clear();
                clientClosed = false;
            }
            if (m_client) {
                client->abort();
                return;
            }
            if (m_series && connections == 1)
                m_script = m_series(0);
            m_client = client;
            QObject::connect(m_client, &QTcpSocket::readyRead, m_client, [this] {
                m_pending += m_client->readAll();
                int end;
                while ((end = m_pending.indexOf('\n')) >= 0) {
                    QByteArray line = m_pending.left(end + 1);
                    m_pending.remove(0, end + 1);
                    line.chop(line.endsWith("\r\n") ? 2 : 1);
                    received << QString::fromLatin1(line);
                    m_lines << line;
                }
                play();
            });
            QObject::connect(m_client, &QTcpSocket::disconnected, m_client, [this] { clientClosed = true; });
            play();
        });
    }

    // A peer for a client that comes back again and again, one connection at a time: the
    // n-th connection (from 0) is played series(n). A connection that comes while the
    // last one is still open is refused. received holds the latest connection's lines,
    // mismatches those of all.
    explicit ScriptedPeer(std::function<PeerScript(int)> series) : ScriptedPeer(PeerScript{})
    {
        m_series = std::move(series);
    }

    quint16 port() const { return m_server.serverPort(); }
    bool finished() const { return m_position >= m_script.size(); }
    QTcpSocket *client() const { return m_client; }

    QStringList received;   // every line the client sent, without its line end
    QStringList mismatches; // expectations the client did not meet
    int connections = 0;
    bool clientClosed = false;

private:
    void play()
    {
        while (m_client && !m_paused && m_position < m_script.size()) {
            const PeerStep &step = m_script.at(m_position);
            switch (step.kind) {
            case PeerStep::Send:
            case PeerStep::Raw:
                m_client->write(step.data);
                break;
            case PeerStep::Expect:
                if (m_lines.isEmpty())
                    return;
                if (m_lines.first() != step.data)
                    mismatches << QStringLiteral("expected \"%1\", got \"%2\"")
                                      .arg(QString::fromLatin1(step.data), QString::fromLatin1(m_lines.first()));
                m_lines.removeFirst();
                break;
            case PeerStep::Pause:
                m_paused = true;
                ++m_position;
                QTimer::singleShot(step.pause, m_client, [this] {
                    m_paused = false;
                    play();
                });
                return;
            case PeerStep::Close:
                m_client->disconnectFromHost();
                break;
            }
            ++m_position;
        }
    }

    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    std::function<PeerScript(int)> m_series;
    PeerScript m_script;
    qsizetype m_position = 0;
    bool m_paused = false;
    QByteArray m_pending;
    QList<QByteArray> m_lines;
};
