#pragma once

#include "mail/MailEvents.h"
#include "mail/MailServer.h"
#include "mail/SocketErrors.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <memory>

class QSocketNotifier;
struct THostLookupShare;
class QTimer;
class TSocketNotifyWindow;
class TThreadTimer;
class TTlsSession;
enum class TlsWait;

// One TCP client socket that code on the GUI thread can use as if it were blocking. The
// socket itself never blocks: each wait serves the application's event queue, so windows
// keep painting and timers keep firing, and a time-out bounds each single step.
class TBlockingSocket : public QObject
{
    Q_OBJECT

public:
    static constexpr int kNoSocket = -1;
    // The largest line that ReadLn takes, its LF included, and the largest text Write sends.
    static constexpr int kLineSize = 65536;

    explicit TBlockingSocket(QObject *owner = nullptr);
    ~TBlockingSocket() override;

    // Published properties.
    QString Host;
    int Port = 0;        // only the low 16 bits are used
    int TimeOut = 0;     // milliseconds for each blocking step; 0 = no time-out
    int ReportLevel = 0; // the highest status level that is reported
    // TLS from the first byte: Connect ends with the handshake (TLS 1.2 at least, the
    // certificate checked against the system's store and the host in the form it was
    // looked up by), and every byte after it goes through the TLS session.
    bool Tls = false;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;

    // Unpublished events.
    TNotifyEvent OnReadable;
    TNotifyEvent OnAcceptable;
    TSocketErrorEvent OnSocketError;
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketRecvd;

    // When not empty, connections go to this host and port instead.
    QString ProxyHost;
    quint16 ProxyPort = 0;

    virtual int Accept();
    virtual void Connect();
    virtual void Disconnect();
    virtual QString Transaction(const QString &command);
    virtual void Abort();

    void Cancel();
    // Sends `length` bytes of `buffer`; length 0 sends up to the first zero byte.
    void SendBuffer(const char *buffer, int length);
    void Write(const QString &text);
    void Writeln(const QString &text);
    // Reads up to and including the next LF; the line keeps its CR LF. Returns an empty
    // line when the peer closed the connection and nothing is left.
    QString ReadLn();
    bool DataAvailable();
    void ClearInput();
    void ResolveHost();
    // Aims the socket at `server`: Host, Port and Tls, and the reading of the host that
    // the lookup, the connect and the TLS name check take while Host stays the same.
    void SetServer(const MailServer &server);
    void RequestCloseSocket();
    void TimerOn();
    void TimerOff();
    void ReportStatus(quint8 level, const QString &text);
    // Fetches the last socket error; raises ESockError unless it is `allowed` or not a
    // socket error. Returns the (empty) message text.
    QString CheckSocketError(quint16 allowed);
    // Turns an error number into its text; `message` comes in as a prefix for the status
    // report and goes out as the text.
    void LookUpErrorMessage(quint16 error, QString &message);

    // Called by the notification object for every message numbered 1125 and above.
    void HandleSocketMessage(quint32 message, quint64 wParam, quint32 lParam);

    bool Connected() const { return m_connected; }
    bool Canceled() const { return m_canceled; }
    bool TimedOut() const { return m_timedOut; }
    bool EventOk() const { return m_eventOk; }
    int LastError() const { return m_lastError; }
    QString Status() const { return m_status; }
    QString LastReply() const { return m_lastReply; }
    qint16 ReplyCode() const { return m_replyCode; }
    const QStringList &WinsockInfo() const { return m_winsockInfo; }
    int SocketHandle() const { return m_socket; }
    // The IPv4 address of the connect target in host byte order; 0 = none.
    quint32 RemoteAddress() const { return m_remoteAddress; }
    int BytesTotal() const { return m_bytesTotal; }
    int BytesRecvd() const { return m_bytesRecvd; }
    TThreadTimer *TimeoutTimer() const { return m_timeoutTimer; }
    TSocketNotifyWindow *NotifyWindow() const { return m_notifyWindow.get(); }

    // The process-wide count of live components that started the socket layer.
    static int WinsockUsers();

protected:
    // The component's destruction has begun: OnStatus and OnDisconnect stay quiet.
    bool m_beingDestroyed = false;

private:
    void InitializeWinsock();
    // Makes a stream socket (IPv6 when `ipv6`, else IPv4); kNoSocket on failure.
    int MakeSocket(bool lingerOff, bool ipv6 = false);
    void WatchSocket();
    void ForgetSocket();
    void TimeoutHandler();
    void ServeQueue(bool wait);
    void SocketReadable();
    void SocketWritable();
    // Records errno as the last socket error and returns it.
    int FetchSystemError();
    // The TLS handshake on the connected socket; raises with a "TLS: " text when it fails.
    void StartTls();
    // After a TLS step that did not complete: arms the notifier it waits for.
    void AwaitTls(TlsWait wait);
    QString ReadTlsLn();

    // The TLS session of the connected socket, when Tls is on; its decrypted input that
    // ReadLn has not taken yet.
    std::unique_ptr<TTlsSession> m_tls;
    QByteArray m_tlsInput;

    class WaitTick;

    // The server as set, and the reading of the host that the current connect goes to.
    MailServer m_server;
    MailServer m_target;

    QByteArray m_lineBuffer;
    QStringList m_winsockInfo;
    bool m_canceled = false;
    bool m_destroying = false;
    int m_lastError = 0;
    QString m_status;
    TThreadTimer *m_timeoutTimer = nullptr;
    bool m_eventOk = true;
    bool m_timedOut = false;
    int m_bytesTotal = 0;
    int m_bytesRecvd = 0;
    bool m_lookupDone = false;
    quint32 m_remoteAddress = 0;
    quint32 m_hostEntry = 0; // the first address of the last lookup's answer
    // The connect target is the IPv6 address m_remoteAddress6 (a literal host); the
    // current socket is an IPv6 one.
    bool m_remoteIsIpv6 = false;
    quint8 m_remoteAddress6[16] = {};
    bool m_socketIpv6 = false;
    QString m_lastReply;
    qint16 m_replyCode = 0;
    int m_socket = kNoSocket;
    std::unique_ptr<TSocketNotifyWindow> m_notifyWindow;
    bool m_connected = false;

    // What stands in for the asynchronous notifications of the socket.
    int m_wsaLastError = 0;     // the last error of a socket call
    quint64 m_socketSerial = 0; // names the current socket in its messages
    quint64 m_lookupSerial = 0; // names the running lookup in its answer
    // What the threads of lookups answer through.
    std::shared_ptr<THostLookupShare> m_lookupShare;
    bool m_connectPending = false;
    bool m_connectTried = false; // the current socket was given to connect already
    bool m_writable = false;
    bool m_closedByPeer = false; // the last socket was replaced after the peer closed it
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_waitTick = nullptr;
    int m_waits = 0;
};
