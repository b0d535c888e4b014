#ifndef KORVENT_CLIENT_CALLFAILURE_H
#define KORVENT_CLIENT_CALLFAILURE_H

#include "korvent/Client.h"

#include <chrono>
#include <string>

namespace korvent
{
  // Who a failing call went to, so that a failure names the right culprit.
  enum class Peer { NameService, Component, MapService };

  // How to raise the message size limit, as the tail of a message.
  std::string raiseLimitHint(const ClientOptions& options);
  // "<program>'s message size limit of <n> bytes".
  std::string ownLimit(const ClientOptions& options);

  // Throws the korvent::Error that says what went wrong with a call to
  // `peer`; `what` names the peer or the operation, `timeout` is the one the
  // call had.
  [[noreturn]] void fail(const CORBA::SystemException& error, Peer peer, const std::string& what,
                         const std::string& where, const ClientOptions& options, std::chrono::milliseconds timeout);
}

#endif // KORVENT_CLIENT_CALLFAILURE_H
