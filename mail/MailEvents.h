#pragma once

#include <QString>
#include <functional>

class QObject;

// Method-reference events of the mail components. The first argument is always the
// component that raises the event.
using TNotifyEvent = std::function<void(QObject *Sender)>;
// Asks the handler to deal with a situation; it sets Handled when it did.
using THandlerEvent = std::function<void(QObject *Sender, bool &Handled)>;
using TOnStatus = std::function<void(QObject *Sender, const QString &Status)>;
using TOnHostResolved = std::function<void(QObject *Sender)>;
using TSocketErrorEvent = std::function<void(QObject *Sender, quint16 Error, const QString &Message)>;
using TListEvent = std::function<void(QObject *Sender, int Msg, int Size)>;
using TVarFileNameEvent = std::function<void(QObject *Sender, QString &FileName)>;
