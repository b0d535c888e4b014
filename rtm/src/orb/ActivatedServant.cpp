#include "rtm/orb/ActivatedServant.h"

#include <chrono>
#include <thread>

namespace RTC
{
  ActivatedServant::~ActivatedServant()
  {
    deactivate();
    waitReleased();
  }

  void ActivatedServant::activate(PortableServer::POA_ptr poa, PortableServer::ServantBase* servant)
  {
    poa_ = PortableServer::POA::_duplicate(poa);
    servant_ = servant;
    id_ = poa_->activate_object(servant);
    reference_ = poa_->id_to_reference(id_.in());
    active_ = true;
  }

  void ActivatedServant::deactivate()
  {
    if (!active_)
      return;
    active_ = false;
    try {
      poa_->deactivate_object(id_.in());
    }
    catch (const CORBA::Exception&) {
      // The POA is already gone (ORB shut down): nothing holds the servant.
    }
  }

  bool ActivatedServant::isReleased() const
  {
    // Our own reference is the one left once the POA has etherealised it.
    return !servant_ || (!active_ && servant_->_refcount_value() <= 1);
  }

  void ActivatedServant::waitReleased()
  {
    if (active_)
      return;
    while (!isReleased())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
