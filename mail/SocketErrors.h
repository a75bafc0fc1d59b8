#pragma once

// The failures of the socket layer: its exception types, the table of its error numbers
// (10000 + the BSD errno values) with their texts, and the mapping from the system's errno.
#include "platform/Exception.h"

#include <QString>

// A failure of the socket layer.
class ESockError : public Exception
{
public:
    using Exception::Exception;
};

// A send, a line read or an accept ended because a cancel (or a time-out) was requested.
class EAbortError : public ESockError
{
public:
    using ESockError::ESockError;
};

// The host lookup ran out of time: the connect gives up at once instead of asking for
// another host.
class EHostLookupTimedOut : public ESockError
{
public:
    EHostLookupTimedOut() : ESockError(QStringLiteral("Host Lookup Timed Out")) {}
};

// The host lookup was cancelled: the connect gives up at once as well.
class EHostLookupCanceled : public ESockError
{
public:
    EHostLookupCanceled() : ESockError(QStringLiteral("Host Lookup Canceled")) {}
};

// The text of a socket error number: "10061:Connection refused" for a number of the
// table, "Unknown Error No. " and the number for any other, empty for 0.
QString socketErrorText(quint16 error);

// The socket error number of a system errno value: 10000 + the BSD number for the BSD
// socket errors (whose Linux values differ), 0 for 0, and 10000 + errno for the rest.
int winsockError(int systemError);
