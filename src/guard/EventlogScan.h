#pragma once

#include "common/OperationContext.h"
#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/Tables.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

namespace platform {
class EventSource;
}

// The steps of one event-log scan, in the order GetEventlog runs them; each is its own call so
// that a benchmark can time them apart. The scan holds its thread's connection for its whole life.
class EventlogScan {
public:
    // Takes the thread's connection (ConnectionCache), then reads `Recordnumber` (the text of LastRecord): a
    // value of 0 or less makes this scan a first run. A text that is no number raises.
    EventlogScan(OperationContext& context, std::string Recordnumber);

    bool firstRun() const { return m_firstRun; }

    // Asks the source for the records above `Recordnumber`, writes one line per data element and
    // insertion string, and keeps each record's address as a sighting (not on a first run, not
    // under Debug).
    void read(platform::EventSource& source);
    // First run: moves LastRecord to the newest record read and writes the first-run line.
    void concludeFirstRun();
    // Stores the sightings kept by read() all together or not at all; only then moves LastRecord
    // to the newest record read, so a failed store leaves those records to the next scan.
    void store();
    // Sightings per address within the count window, most sightings first.
    ResultSet count();
    // Blocks every counted address above the threshold and deletes its sightings.
    void blockOffenders(ResultSet& counts);

    std::size_t recordsRead() const { return m_recordsRead; }
    std::size_t sightings() const { return m_sightings.size(); }

private:
    void moveLastRecord();
    void deleteSightings(std::vector<std::string>& quotedAddresses);

    OperationContext& m_context;
    std::shared_ptr<Connection> m_lease;
    Connection& m_connection;
    Tables m_tables;
    std::string m_recordnumber;
    bool m_firstRun;
    std::size_t m_recordsRead = 0;
    std::optional<std::int64_t> m_newestRecord;
    std::vector<std::string> m_sightings;
};

} // namespace ostrel
