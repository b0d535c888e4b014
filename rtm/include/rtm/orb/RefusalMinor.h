#ifndef RTM_REFUSALMINOR_H
#define RTM_REFUSALMINOR_H

namespace RTC
{
  // Minor codes of the system exceptions raised for refusals, under a
  // vendor minor codeset of this runtime's own ("KV"), so that clients can
  // say whether to wait or which setting to change.
  namespace refusalMinor
  {
    constexpr unsigned long codeset = 0x4B560000UL;
    // NO_RESOURCES: the reply would keep more octets alive than
    // corba.memory.replies allows, even with no other reply being sent.
    constexpr unsigned long replyOverBudget = codeset | 1;
    // TRANSIENT: other replies being sent hold the room corba.memory.replies
    // gives; it clears as they finish.
    constexpr unsigned long replyBudgetBusy = codeset | 2;
  }
}

#endif // RTM_REFUSALMINOR_H
