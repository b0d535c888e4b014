#ifndef RTM_RTOBJECT_H
#define RTM_RTOBJECT_H

#include <OpenRTM.hh>

#include "rtm/orb/ActivatedServant.h"
#include "rtm/component/PeriodicExecutionContext.h"
#include "rtm/util/Properties.h"
#include "rtm/component/SdoConfiguration.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace RTC
{
  class ComponentHost;
  class PortBase;

  typedef ExecutionContextHandle_t UniqueId;

  // The servant of one RT-Component.  Subclasses override the on* hooks;
  // the defaults do nothing and succeed.
  class RTObject_impl
    : public virtual POA_OpenRTM::DataFlowComponent,
      public virtual PortableServer::RefCountServantBase
  {
  public:
    // The manager passes itself: a component reaches it only as its host.
    explicit RTObject_impl(ComponentHost* host);
    virtual ~RTObject_impl();

    // Action hooks.
    virtual ReturnCode_t onInitialize();
    virtual ReturnCode_t onFinalize();
    virtual ReturnCode_t onStartup(UniqueId ec_id);
    virtual ReturnCode_t onShutdown(UniqueId ec_id);
    virtual ReturnCode_t onActivated(UniqueId ec_id);
    virtual ReturnCode_t onDeactivated(UniqueId ec_id);
    virtual ReturnCode_t onExecute(UniqueId ec_id);
    virtual ReturnCode_t onAborting(UniqueId ec_id);
    virtual ReturnCode_t onError(UniqueId ec_id);
    virtual ReturnCode_t onReset(UniqueId ec_id);
    virtual ReturnCode_t onStateUpdate(UniqueId ec_id);
    virtual ReturnCode_t onRateChanged(UniqueId ec_id);

    // The port joins the component: it is served from now on and named
    // "<instance>.<port>" once the instance name is known.
    void registerPort(PortBase& port);

    std::string getInstanceName() const;
    void setInstanceName(const std::string& name);
    Properties getProperties() const;
    // Sets the component's properties; "instance_name" among them names it.
    void setProperties(const Properties& properties);
    RTObject_ptr getObjRef() const;  // duplicated; nil before initialize()

    // True once the ORB has let go of every servant of this component, so
    // that no call can run on it any more; the host destroys the component
    // only then.
    bool isReleased() const;

    // Drops connectors on every port whose peers are gone.
    void pruneDeadConnectors();

    // RTC::ComponentAction
    ReturnCode_t on_initialize() override;
    ReturnCode_t on_finalize() override;
    ReturnCode_t on_startup(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_shutdown(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_activated(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_deactivated(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_aborting(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_error(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_reset(ExecutionContextHandle_t exec_handle) override;
    // RTC::DataFlowComponentAction
    ReturnCode_t on_execute(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_state_update(ExecutionContextHandle_t exec_handle) override;
    ReturnCode_t on_rate_changed(ExecutionContextHandle_t exec_handle) override;
    // RTC::LightweightRTObject
    ReturnCode_t initialize() override;
    ReturnCode_t finalize() override;
    CORBA::Boolean is_alive(ExecutionContext_ptr exec_context) override;
    ReturnCode_t exit() override;
    ExecutionContextHandle_t attach_context(ExecutionContext_ptr exec_context) override;
    ReturnCode_t detach_context(ExecutionContextHandle_t exec_handle) override;
    ExecutionContext_ptr get_context(ExecutionContextHandle_t exec_handle) override;
    ExecutionContextList* get_owned_contexts() override;
    ExecutionContextList* get_participating_contexts() override;
    ExecutionContextHandle_t get_context_handle(ExecutionContext_ptr cxt) override;
    // RTC::RTObject
    ComponentProfile* get_component_profile() override;
    PortServiceList* get_ports() override;
    // SDOPackage::SDOSystemElement and SDOPackage::SDO
    SDOPackage::OrganizationList* get_owned_organizations() override;
    char* get_sdo_id() override;
    char* get_sdo_type() override;
    SDOPackage::DeviceProfile* get_device_profile() override;
    SDOPackage::ServiceProfileList* get_service_profiles() override;
    SDOPackage::ServiceProfile* get_service_profile(const char* id) override;
    SDOPackage::SDOService_ptr get_sdo_service(const char* id) override;
    SDOPackage::Configuration_ptr get_configuration() override;
    SDOPackage::Monitoring_ptr get_monitoring() override;
    SDOPackage::OrganizationList* get_organizations() override;
    SDOPackage::NVList* get_status_list() override;
    CORBA::Any* get_status(const char* nme) override;

  private:
    // Handles below this are owned contexts, from it on participating ones.
    static const ExecutionContextHandle_t firstParticipatingHandle = 1000;

    ReturnCode_t createOwnedContext();
    void leaveParticipatingContexts();
    void deactivateServants();

    ComponentHost& host_;
    mutable std::mutex mutex_;  // guards the members below
    Properties properties_;
    std::vector<PortBase*> ports_;
    std::unique_ptr<PeriodicExecutionContext> ownedContext_;
    ExecutionContextService_var ownedContextRef_;
    std::vector<ExecutionContextService_var> participating_;  // nil slots are free
    bool initialized_ = false;
    bool exiting_ = false;
    SdoConfiguration configuration_;
    ActivatedServant configurationActivation_;
    ActivatedServant activation_;
    RTObject_var self_;
  };
}

#endif // RTM_RTOBJECT_H
