#pragma once

#include "platform/EventSource.h"

#include <cstdint>
#include <string>
#include <vector>

struct IEnumWbemClassObject;

namespace ostrel::platform {

// The WQL text that asks for the records of one channel with event code 140 above a record number.
std::string wmiQueryText(const std::string& channel, const std::string& recordNumber);

// The event log itself, asked through WMI: IWbemLocator::ConnectServer on root\CIMV2,
// IWbemServices::ExecQuery with forward-only enumeration, one object at a time. Needs COM on
// the calling thread (ComScope). Win32_NTLogEvent promises no order of the records.
class WmiEventSource final : public EventSource {
public:
    explicit WmiEventSource(std::string channel = RdpChannel);
    // Raises EOleException with the failing call's HRESULT and its system text.
    std::vector<EventRecord> recordsAbove(std::int64_t recordNumber) override;
    std::string description() const override { return "the Windows event log, channel " + m_channel; }
    // Signals new records of the channel through an event-log subscription; nullptr where the
    // event log offers none.
    std::unique_ptr<SourceWatch> watch(std::function<void()> onChange) override;

private:
    std::string m_channel;
};

// Every record an enumeration of Win32_NTLogEvent objects yields, to its regular end. Raises
// EOleException when any step fails (a failed or timed-out Next included), so that a walk cut
// short never passes for a whole one.
std::vector<EventRecord> readRecords(IEnumWbemClassObject& objects);

} // namespace ostrel::platform
