#include "rtm/ports/CorbaConsumer.h"

namespace RTC
{
  bool CorbaConsumerBase::setObject(CORBA::Object_ptr object)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    object_ = CORBA::Object::_duplicate(object);
    return true;
  }

  void CorbaConsumerBase::releaseObject()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    object_ = CORBA::Object::_nil();
  }

  CORBA::Object_ptr CorbaConsumerBase::getObject() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return CORBA::Object::_duplicate(object_.in());
  }
}
