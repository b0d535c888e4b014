#ifndef RTM_CORBACONSUMER_H
#define RTM_CORBACONSUMER_H

#include <omniORB4/CORBA.h>

#include <mutex>

namespace RTC
{
  // Holds the object a service port found for one required interface.
  class CorbaConsumerBase
  {
  public:
    virtual ~CorbaConsumerBase() = default;

    // Takes `object` if it is of the consumer's interface; false otherwise.
    virtual bool setObject(CORBA::Object_ptr object);
    void releaseObject();
    CORBA::Object_ptr getObject() const;  // duplicated; nil when unset

  protected:
    mutable std::mutex mutex_;
    CORBA::Object_var object_;
  };

  // A consumer of interface T, e.g. CorbaConsumer<Korvent>.
  template <class T>
  class CorbaConsumer : public CorbaConsumerBase
  {
  public:
    using ObjectPtr = typename T::_ptr_type;
    using ObjectVar = typename T::_var_type;

    bool setObject(CORBA::Object_ptr object) override
    {
      ObjectVar narrowed = T::_narrow(object);
      if (CORBA::is_nil(narrowed) && !CORBA::is_nil(object))
        return false;
      std::lock_guard<std::mutex> lock(mutex_);
      object_ = CORBA::Object::_duplicate(narrowed.in());
      typed_ = narrowed;
      return true;
    }

    // The provider's reference, duplicated; nil while not connected.
    ObjectPtr _ptr() const
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (CORBA::is_nil(object_))
        return T::_nil();
      return T::_duplicate(typed_.in());
    }

  private:
    ObjectVar typed_;
  };
}

#endif // RTM_CORBACONSUMER_H
