#include "CallFailure.h"

#include <omniORB4/CORBA.h>
#include <omniORB4/minorCode.h>
#include <rtm/orb/RefusalMinor.h>

#include <algorithm>
#include <limits>

namespace korvent
{
  std::string raiseLimitHint(const ClientOptions& options)
  {
    return "; raise the limit on both ends: -ORBgiopMaxMsgSize <bytes> in KorventComp's corba.args"
           " (rtc.conf or -o) and " + options.maxMessageSetting;
  }

  std::string ownLimit(const ClientOptions& options)
  {
    return options.programName + "'s message size limit of " + std::to_string(omniORB::giopMaxMsgSize()) +
           " bytes";
  }

  bool timedOut(const CORBA::SystemException& error)
  {
    return CORBA::TIMEOUT::_downcast(&error) ||
           (CORBA::TRANSIENT::_downcast(&error) && error.minor() == omni::TRANSIENT_CallTimedout);
  }

  void fail(const CORBA::SystemException& error, Peer peer, const std::string& what,
                         const std::string& where, const ClientOptions& options, std::chrono::milliseconds timeout)
  {
    const char* minorName = error.NP_minorString();
    const std::string said = std::string(error._name()) + " (" +
                             (minorName ? std::string(minorName) : "minor " + std::to_string(error.minor())) + ")";
    const CORBA::ULong minor = error.minor();
    if (timedOut(error))
      throw CallTimedOut((peer == Peer::NameService ? "cannot reach the name service: " : what + ": ") +
                         "no answer within " + std::to_string(timeout.count()) + " ms; " + options.timeoutSetting +
                         " sets how long to wait", where);
    if (CORBA::MARSHAL::_downcast(&error) &&
        (minor == omni::MARSHAL_MessageSizeExceedLimit || minor == omni::MARSHAL_MessageSizeExceedLimitOnClient))
      throw MapTooLarge("the message exceeds " + ownLimit(options) + raiseLimitHint(options), where);
    if (CORBA::MARSHAL::_downcast(&error) && minor == omni::MARSHAL_MessageSizeExceedLimitOnServer)
      throw MapTooLarge("the message exceeds KorventComp's message size limit" + raiseLimitHint(options), where);
    if (CORBA::NO_RESOURCES::_downcast(&error) && minor == RTC::refusalMinor::replyOverBudget)
      throw MapTooLarge(what + " was refused: its reply would keep more memory than KorventComp's"
                        " corba.memory.replies allows, however long one waits; raise that setting (rtc.conf or -o)",
                        where);
    if (CORBA::TRANSIENT::_downcast(&error) && minor == RTC::refusalMinor::replyBudgetBusy)
      throw CommunicationError(what + " was refused for now: KorventComp is busy sending other large replies"
                               " (corba.memory.replies); try again shortly", where);
    const bool unreachable = CORBA::TRANSIENT::_downcast(&error) || CORBA::COMM_FAILURE::_downcast(&error) ||
                             CORBA::OBJECT_NOT_EXIST::_downcast(&error) || CORBA::INV_OBJREF::_downcast(&error);
    if (unreachable && peer == Peer::NameService)
      throw NameServiceUnreachable("cannot reach the name service", where);
    if (peer == Peer::Component && (unreachable || CORBA::BAD_OPERATION::_downcast(&error) ||
                                    CORBA::BAD_PARAM::_downcast(&error)))
      throw ComponentNotFound(what + " does not answer (" + said + "); it may have stopped, or serve over TLS"
                              " only to clients with a trusted certificate", where);
    if (unreachable)
      throw CommunicationError(what + " failed: the component does not answer (" + said + ")", where);
    throw CommunicationError(what + " failed: " + said, where);
  }

  CORBA::ULong transferTimeoutMs(const ClientOptions& options, std::uint64_t bytes)
  {
    std::uint64_t ms = static_cast<std::uint64_t>(options.callTimeout.count());
    if (options.slowestTransferRate > 0)
      ms += (bytes * 1000 + options.slowestTransferRate - 1) / options.slowestTransferRate;
    return static_cast<CORBA::ULong>(std::min<std::uint64_t>(ms, std::numeric_limits<CORBA::ULong>::max()));
  }
}
