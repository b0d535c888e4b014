#ifndef KORVENT_CLIENT_CALLFAILURE_H
#define KORVENT_CLIENT_CALLFAILURE_H

#include "korvent/Client.h"

#include <chrono>
#include <string>

// Turning the ORB's failures into the library's exceptions.
namespace korvent
{
  // Who a failing call went to, so that a failure names the right culprit.
  enum class Peer { NameService, Component, MapService };

  // The hint that ends every message-size complaint.
  std::string raiseLimitHint(const ClientOptions& options);
  // "<program>'s message size limit of N bytes".
  std::string ownLimit(const ClientOptions& options);

  // Whether `error` says the peer did not answer within the call timeout.
  bool timedOut(const CORBA::SystemException& error);

  // Throws the Error subclass that fits `error`; `what` names the peer or
  // the operation that failed, and `timeout` is the one the call had.
  [[noreturn]] void fail(const CORBA::SystemException& error, Peer peer, const std::string& what,
                         const std::string& where, const ClientOptions& options, std::chrono::milliseconds timeout);

  // Call timeout for a transfer of `bytes`: the plain timeout plus the
  // time the slowest acceptable link takes to carry them.
  CORBA::ULong transferTimeoutMs(const ClientOptions& options, std::uint64_t bytes);
}

#endif // KORVENT_CLIENT_CALLFAILURE_H
