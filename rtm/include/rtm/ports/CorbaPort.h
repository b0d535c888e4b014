#ifndef RTM_CORBAPORT_H
#define RTM_CORBAPORT_H

#include "rtm/ports/CorbaConsumer.h"
#include "rtm/ports/PortBase.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace RTC
{
  // A service port: provides CORBA interfaces served by the component's
  // servants and requires interfaces that a connection supplies.
  class CorbaPort : public PortBase
  {
  public:
    explicit CorbaPort(const char* name);
    ~CorbaPort() override;

    // Offers `provider` as interface `type_name` under `instance_name`.  The
    // servant is activated once and served for the port's life; the port
    // never owns or deletes it.  False when the names are empty or taken.
    bool registerProvider(const char* instance_name, const char* type_name,
                          PortableServer::ServantBase& provider);

    // Asks connections for interface `type_name` under `instance_name`; the
    // provider's reference is set into `consumer` while connected.
    bool registerConsumer(const char* instance_name, const char* type_name,
                          CorbaConsumerBase& consumer);

  protected:
    ReturnCode_t publishInterfaces(ConnectorProfile& profile) override;
    ReturnCode_t subscribeInterfaces(const ConnectorProfile& profile) override;
    void unsubscribeInterfaces(const ConnectorProfile& profile) override;
    void onActivated(PortableServer::POA_ptr poa) override;
    void onDeactivated() override;
    bool servantsReleased() const override;

  private:
    struct Provider
    {
      std::string instanceName;
      std::string typeName;
      PortableServer::ServantBase* servant;
      ActivatedServant activation;
    };
    struct Consumer
    {
      std::string instanceName;
      std::string typeName;
      CorbaConsumerBase* consumer;
    };

    bool isTaken(const std::string& instanceName, const std::string& typeName,
                 PortInterfacePolarity polarity) const;
    std::optional<std::string> findProviderIor(const ConnectorProfile& profile,
                                               const Consumer& consumer) const;

    std::vector<std::unique_ptr<Provider>> providers_;
    std::vector<Consumer> consumers_;
  };
}

#endif // RTM_CORBAPORT_H
