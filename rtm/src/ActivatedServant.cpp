#include "rtm/ActivatedServant.h"

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

  void ActivatedServant::waitReleased()
  {
    if (!servant_ || active_)
      return;
    // Our own reference is the one left once the POA has etherealised it,
    // which it does when the last call in progress on it has returned.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (servant_->_refcount_value() > 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    servant_ = nullptr;
  }
}
