#ifndef KORVENT_CLIENT_CLIENTIMPL_H
#define KORVENT_CLIENT_CLIENTIMPL_H

#include "CallFailure.h"
#include "ChangeSubscription.h"
#include "korvent/Client.h"

#include <Korvent.hh>
#include <KorventMapInfo.hh>
#include <KorventRegion.hh>
#include <RTC.hh>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace korvent
{
  // `object` as a T whose calls end within `timeout`.
  template <class T>
  typename T::_ptr_type bounded(CORBA::Object_ptr object, std::chrono::milliseconds timeout)
  {
    typename T::_ptr_type typed = T::_unchecked_narrow(object);
    omniORB::setClientCallTimeout(typed, static_cast<CORBA::ULong>(timeout.count()));
    return typed;
  }

  // What a Client found: the services of one component and how to call them.
  struct Client::Impl
  {
    ClientOptions options;
    CORBA::ORB_var orb;
    std::chrono::milliseconds timeout;
    std::string where;
    bool named = false;  // found through a name service
    // Finds the component again (through the name service, when it was
    // found that way), for a component that was restarted.
    std::function<CORBA::Object_ptr()> locate;
    RTC::RTObject_var component;
    Korvent_var service;
    KorventRegion_var region;  // nil when the component offers no region service
    KorventMapInfo_var mapInfo;  // nil when the component offers no description service
    std::unique_ptr<ChangeSubscription> changes;  // made on the first wait for a change

    Impl(const ClientOptions& given, std::string location);

    // `waited` is the timeout the failed call had, when not the plain one.
    // A failed call also has the change connection checked.
    [[noreturn]] void fail(const CORBA::SystemException& error, Peer peer, const std::string& what,
                           const std::string& at, std::chrono::milliseconds waited = {}) const
    {
      if (changes)
        changes->suspect();
      korvent::fail(error, peer, what, at, options, waited.count() > 0 ? waited : timeout);
    }

    // The region service; NoSuchService if the component has none.
    KorventRegion_ptr regionService() const;
    // The description service; NoSuchService if the component has none.
    KorventMapInfo_ptr mapInfoService() const;

    CORBA::Object_ptr resolve(const std::string& rootUrl, const std::string& server, const std::string& name);
    void findService(CORBA::Object_ptr object);
    // A change inbox on the component; when the component does not answer,
    // on the component found again.
    std::unique_ptr<ChangeInbox> connectChanges();
    // The connector profile that publishes the port's providers, if it
    // provides one of the map's interfaces.
    std::optional<RTC::ConnectorProfile> askPort(RTC::PortService_ptr port);
  };
}

#endif // KORVENT_CLIENT_CLIENTIMPL_H
