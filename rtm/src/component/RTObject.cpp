#include "rtm/component/RTObject.h"

#include "rtm/component/Guarded.h"
#include "rtm/component/ComponentHost.h"
#include "rtm/util/ConfigError.h"
#include "rtm/util/NVUtil.h"
#include "rtm/util/NumericSettings.h"
#include "rtm/orb/PeerCalls.h"
#include "rtm/ports/PortBase.h"

#include <cstdlib>

namespace RTC
{
  RTObject_impl::RTObject_impl(ComponentHost* host)
    : host_(*host)
  {
  }

  RTObject_impl::~RTObject_impl()
  {
    if (ownedContext_)
      ownedContext_->terminate();
  }

  ReturnCode_t RTObject_impl::onInitialize() { return RTC_OK; }
  ReturnCode_t RTObject_impl::onFinalize() { return RTC_OK; }
  ReturnCode_t RTObject_impl::onStartup(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onShutdown(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onActivated(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onDeactivated(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onExecute(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onAborting(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onError(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onReset(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onStateUpdate(UniqueId) { return RTC_OK; }
  ReturnCode_t RTObject_impl::onRateChanged(UniqueId) { return RTC_OK; }

  ReturnCode_t RTObject_impl::on_initialize() { return onInitialize(); }
  ReturnCode_t RTObject_impl::on_finalize() { return onFinalize(); }
  ReturnCode_t RTObject_impl::on_startup(ExecutionContextHandle_t h) { return onStartup(h); }
  ReturnCode_t RTObject_impl::on_shutdown(ExecutionContextHandle_t h) { return onShutdown(h); }
  ReturnCode_t RTObject_impl::on_activated(ExecutionContextHandle_t h) { return onActivated(h); }
  ReturnCode_t RTObject_impl::on_deactivated(ExecutionContextHandle_t h) { return onDeactivated(h); }
  ReturnCode_t RTObject_impl::on_aborting(ExecutionContextHandle_t h) { return onAborting(h); }
  ReturnCode_t RTObject_impl::on_error(ExecutionContextHandle_t h) { return onError(h); }
  ReturnCode_t RTObject_impl::on_reset(ExecutionContextHandle_t h) { return onReset(h); }
  ReturnCode_t RTObject_impl::on_execute(ExecutionContextHandle_t h) { return onExecute(h); }
  ReturnCode_t RTObject_impl::on_state_update(ExecutionContextHandle_t h) { return onStateUpdate(h); }
  ReturnCode_t RTObject_impl::on_rate_changed(ExecutionContextHandle_t h) { return onRateChanged(h); }

  void RTObject_impl::registerPort(PortBase& port)
  {
    port.activate(host_.getORB(), host_.getPOA());
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string instance = properties_.getProperty("instance_name");
    if (!instance.empty())
      port.setOwnerInstanceName(instance);
    if (!CORBA::is_nil(self_))
      port.setOwner(self_);
    ports_.push_back(&port);
  }

  std::string RTObject_impl::getInstanceName() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return properties_.getProperty("instance_name");
  }

  void RTObject_impl::setInstanceName(const std::string& name)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    properties_.setProperty("instance_name", name);
    for (PortBase* port : ports_)
      port->setOwnerInstanceName(name);
  }

  Properties RTObject_impl::getProperties() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return properties_;
  }

  void RTObject_impl::setProperties(const Properties& properties)
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      properties_ << properties;
    }
    if (properties.hasKey("instance_name"))
      setInstanceName(properties.getProperty("instance_name"));
  }

  RTObject_ptr RTObject_impl::getObjRef() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return RTC::RTObject::_duplicate(self_.in());
  }

  ReturnCode_t RTObject_impl::createOwnedContext()
  {
    const Properties props = getProperties();
    if (props.getProperty("exec_cxt.periodic.type", "PeriodicExecutionContext") != "PeriodicExecutionContext")
      return RTC_ERROR;
    double rate = 0.0, timeout = 0.0;
    try {
      // Per-component settings may differ from the manager's, so they are
      // checked again here; a bad one fails creation rather than being
      // replaced by a default.
      rate = numericSetting(props, "exec_cxt.periodic.rate");
      timeout = numericSetting(props, "exec_cxt.transition_timeout");
    }
    catch (const ConfigError&) {
      return RTC_ERROR;
    }
    const bool synchronous = isYes(props.getProperty("exec_cxt.sync_transition", "YES"), true);

    auto context = std::make_unique<PeriodicExecutionContext>(rate, synchronous, std::chrono::duration<double>(timeout));
    context->activate(host_.getPOA());
    context->bindOwner(self_, *this);
    std::lock_guard<std::mutex> lock(mutex_);
    ownedContextRef_ = context->getObjRef();
    ownedContext_ = std::move(context);
    return RTC_OK;
  }

  ReturnCode_t RTObject_impl::initialize()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (initialized_)
        return PRECONDITION_NOT_MET;
    }
    if (!activation_.isActive()) {
      activation_.activate(host_.getPOA(), this);
      configurationActivation_.activate(host_.getPOA(), &configuration_);
      std::lock_guard<std::mutex> lock(mutex_);
      self_ = RTC::RTObject::_narrow(activation_.reference());
      for (PortBase* port : ports_)
        port->setOwner(self_);
    }
    ReturnCode_t result = createOwnedContext();
    if (result == RTC_OK)
      result = guarded([this] { return on_initialize(); });
    if (result != RTC_OK) {
      // The component will not run: take back everything put into the POA.
      deactivateServants();
      return result;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      initialized_ = true;
    }
    ownedContext_->start();
    return RTC_OK;
  }

  ReturnCode_t RTObject_impl::finalize()
  {
    // Only exit() may finalise a component.
    std::lock_guard<std::mutex> lock(mutex_);
    return exiting_ ? RTC_OK : PRECONDITION_NOT_MET;
  }

  ReturnCode_t RTObject_impl::exit()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (exiting_)
        return RTC_OK;
      if (!initialized_)
        return PRECONDITION_NOT_MET;
      exiting_ = true;
    }
    host_.componentExiting(this);
    ReturnCode_t result;
    {
      // Leaving contexts and disconnecting peers ends within one call
      // timeout, however many peers do not answer.
      ThreadCallDeadline deadline(peerCallTimeout());
      if (ownedContext_) {
        ownedContext_->deactivate_component(self_);
        ownedContext_->stop();
      }
      leaveParticipatingContexts();
      result = guarded([this] { return on_finalize(); });
      deactivateServants();
    }
    host_.componentExited(this);
    return result;
  }

  void RTObject_impl::leaveParticipatingContexts()
  {
    std::vector<ExecutionContextService_var> contexts;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      contexts = participating_;
    }
    for (ExecutionContextService_var& context : contexts) {
      if (CORBA::is_nil(context))
        continue;
      try {
        context->deactivate_component(self_);
        context->remove_component(self_);
      }
      catch (const CORBA::Exception&) {
        // A context that is gone has nothing left to leave.
      }
    }
  }

  void RTObject_impl::deactivateServants()
  {
    std::vector<PortBase*> ports;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ports = ports_;
    }
    for (PortBase* port : ports) {
      port->disconnect_all();
      port->deactivate();
    }
    if (ownedContext_)
      ownedContext_->deactivate();
    configurationActivation_.deactivate();
    activation_.deactivate();
  }

  bool RTObject_impl::isReleased() const
  {
    std::vector<PortBase*> ports;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ports = ports_;
    }
    for (PortBase* port : ports)
      if (!port->isReleased())
        return false;
    return (!ownedContext_ || ownedContext_->isReleased()) && configurationActivation_.isReleased() &&
           activation_.isReleased();
  }

  void RTObject_impl::pruneDeadConnectors()
  {
    std::vector<PortBase*> ports;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ports = ports_;
    }
    for (PortBase* port : ports)
      port->pruneDeadConnectors();
  }

  CORBA::Boolean RTObject_impl::is_alive(ExecutionContext_ptr exec_context)
  {
    return get_context_handle(exec_context) >= 0;
  }

  ExecutionContextHandle_t RTObject_impl::attach_context(ExecutionContext_ptr exec_context)
  {
    ExecutionContextService_var service = RTC::ExecutionContextService::_narrow(exec_context);
    if (CORBA::is_nil(service))
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t slot = 0; slot < participating_.size(); ++slot) {
      if (CORBA::is_nil(participating_[slot])) {
        participating_[slot] = service._retn();
        return firstParticipatingHandle + static_cast<ExecutionContextHandle_t>(slot);
      }
    }
    participating_.push_back(service._retn());
    return firstParticipatingHandle + static_cast<ExecutionContextHandle_t>(participating_.size() - 1);
  }

  ReturnCode_t RTObject_impl::detach_context(ExecutionContextHandle_t exec_handle)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const long slot = static_cast<long>(exec_handle) - firstParticipatingHandle;
    if (slot < 0 || slot >= static_cast<long>(participating_.size()) || CORBA::is_nil(participating_[slot]))
      return BAD_PARAMETER;
    participating_[slot] = RTC::ExecutionContextService::_nil();
    return RTC_OK;
  }

  ExecutionContext_ptr RTObject_impl::get_context(ExecutionContextHandle_t exec_handle)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (exec_handle == 0 && !CORBA::is_nil(ownedContextRef_))
      return RTC::ExecutionContext::_duplicate(ownedContextRef_);
    const long slot = static_cast<long>(exec_handle) - firstParticipatingHandle;
    if (slot >= 0 && slot < static_cast<long>(participating_.size()))
      return RTC::ExecutionContext::_duplicate(participating_[slot]);
    return RTC::ExecutionContext::_nil();
  }

  ExecutionContextList* RTObject_impl::get_owned_contexts()
  {
    ExecutionContextList_var list = new ExecutionContextList;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!CORBA::is_nil(ownedContextRef_)) {
      list->length(1);
      list[0] = RTC::ExecutionContext::_duplicate(ownedContextRef_);
    }
    return list._retn();
  }

  ExecutionContextList* RTObject_impl::get_participating_contexts()
  {
    ExecutionContextList_var list = new ExecutionContextList;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const ExecutionContextService_var& context : participating_) {
      if (CORBA::is_nil(context))
        continue;
      CORBA::ULong at = list->length();
      list->length(at + 1);
      list[at] = RTC::ExecutionContext::_duplicate(context);
    }
    return list._retn();
  }

  ExecutionContextHandle_t RTObject_impl::get_context_handle(ExecutionContext_ptr cxt)
  {
    if (CORBA::is_nil(cxt))
      return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!CORBA::is_nil(ownedContextRef_) && cxt->_is_equivalent(ownedContextRef_))
      return 0;
    for (std::size_t slot = 0; slot < participating_.size(); ++slot)
      if (!CORBA::is_nil(participating_[slot]) && cxt->_is_equivalent(participating_[slot]))
        return firstParticipatingHandle + static_cast<ExecutionContextHandle_t>(slot);
    return -1;
  }

  ComponentProfile* RTObject_impl::get_component_profile()
  {
    ComponentProfile_var profile = new ComponentProfile;
    std::vector<PortBase*> ports;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      profile->instance_name = properties_.getProperty("instance_name").c_str();
      profile->type_name = properties_.getProperty("type_name").c_str();
      profile->description = properties_.getProperty("description").c_str();
      profile->version = properties_.getProperty("version").c_str();
      profile->vendor = properties_.getProperty("vendor").c_str();
      profile->category = properties_.getProperty("category").c_str();
      profile->parent = RTC::RTObject::_nil();
      profile->properties = toNVList(properties_);
      ports = ports_;
    }
    profile->port_profiles.length(static_cast<CORBA::ULong>(ports.size()));
    for (CORBA::ULong i = 0; i < ports.size(); ++i) {
      PortProfile_var port = ports[i]->get_port_profile();
      profile->port_profiles[i] = port.in();
    }
    return profile._retn();
  }

  PortServiceList* RTObject_impl::get_ports()
  {
    PortServiceList_var list = new PortServiceList;
    std::lock_guard<std::mutex> lock(mutex_);
    list->length(static_cast<CORBA::ULong>(ports_.size()));
    for (CORBA::ULong i = 0; i < ports_.size(); ++i)
      list[i] = ports_[i]->getPortRef();
    return list._retn();
  }

  SDOPackage::OrganizationList* RTObject_impl::get_owned_organizations()
  {
    return new SDOPackage::OrganizationList;
  }

  char* RTObject_impl::get_sdo_id()
  {
    return CORBA::string_dup(getInstanceName().c_str());
  }

  char* RTObject_impl::get_sdo_type()
  {
    return CORBA::string_dup(getProperties().getProperty("description").c_str());
  }

  SDOPackage::DeviceProfile* RTObject_impl::get_device_profile()
  {
    return new SDOPackage::DeviceProfile;
  }

  SDOPackage::ServiceProfileList* RTObject_impl::get_service_profiles()
  {
    return new SDOPackage::ServiceProfileList;
  }

  SDOPackage::ServiceProfile* RTObject_impl::get_service_profile(const char* id)
  {
    throw SDOPackage::InvalidParameter(("no SDO service " + std::string(id)).c_str());
  }

  SDOPackage::SDOService_ptr RTObject_impl::get_sdo_service(const char* id)
  {
    throw SDOPackage::InvalidParameter(("no SDO service " + std::string(id)).c_str());
  }

  SDOPackage::Configuration_ptr RTObject_impl::get_configuration()
  {
    if (!configurationActivation_.isActive())
      throw SDOPackage::NotAvailable("the component is not initialised");
    return SDOPackage::Configuration::_narrow(configurationActivation_.reference());
  }

  SDOPackage::Monitoring_ptr RTObject_impl::get_monitoring()
  {
    throw SDOPackage::InterfaceNotImplemented("monitoring is not provided");
  }

  SDOPackage::OrganizationList* RTObject_impl::get_organizations()
  {
    return new SDOPackage::OrganizationList;
  }

  SDOPackage::NVList* RTObject_impl::get_status_list()
  {
    return new SDOPackage::NVList;
  }

  CORBA::Any* RTObject_impl::get_status(const char* nme)
  {
    throw SDOPackage::InvalidParameter(("no status " + std::string(nme)).c_str());
  }
}
