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
    // Takes the thread's connection (ConnectionCache), then reads `Recordnumber` (the text of LastRecord, 64
    // bits) and the mark stored with the last sightings; when that mark is ahead (a store whose
    // reply was lost, or a LastRecord that never reached Config.ini), LastRecord moves up to it.
    // A mark of 0 or less makes this scan a first run. A text that is no number raises, and so
    // does a missing lastrecord table.
    EventlogScan(OperationContext& context, std::string Recordnumber);

    bool firstRun() const { return m_firstRun; }

    // Asks the source for the records above `Recordnumber`, writes one line per data element and
    // insertion string, and keeps each record's address as a sighting (not on a first run, not
    // under Debug).
    void read(platform::EventSource& source);
    // First run: moves LastRecord to the newest record read and writes the first-run line.
    void concludeFirstRun();
    // Stores the sightings kept by read() and the newest record number read as one transaction,
    // all or nothing; only then moves LastRecord to that record, so a failed store leaves those
    // records to the next scan, and a store that landed unseen is found by the next scan's check.
    void store();
    // Sightings per address within the count window, most sightings first.
    ResultSet count();
    // Blocks every counted address above the threshold and deletes its sightings.
    void blockOffenders(ResultSet& counts);

    std::size_t sightings() const { return m_sightings.size(); }

    // Longest element text a "RecordNumber" line shows, in characters.
    static constexpr std::size_t LoggedElementCharacters = 512;

private:
    std::optional<std::int64_t> storedMark();
    void catchUpWithStoredMark();
    void storeMark(std::int64_t recordNumber);
    void moveLastRecord();
    // The statements that delete the sightings of these addresses (as stored).
    std::string sightingsDeletion(const std::vector<std::string>& addresses);

    OperationContext& m_context;
    std::shared_ptr<Connection> m_lease;
    Connection& m_connection;
    Tables m_tables;
    std::string m_recordnumber;
    std::int64_t m_mark;
    bool m_firstRun = false;
    std::size_t m_recordsRead = 0;
    std::optional<std::int64_t> m_newestRecord;
    std::vector<std::string> m_sightings;
};

} // namespace ostrel
