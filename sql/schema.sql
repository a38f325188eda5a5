-- The tables of RDP-Ostrel, for MariaDB or MySQL. The program never creates or alters a
-- table: load this once per database (or per prefix, after renaming the tables to
-- <prefix>merkliste, <prefix>firewall, <prefix>lastrecord, <prefix>firewallchanges and
-- <historyprefix>firewall_history).
--
--   mariadb ostrel < sql/schema.sql

-- Watch list: one row per failed-logon sighting of an address.
CREATE TABLE IF NOT EXISTS merkliste (
    `ID` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT,
    `IP` VARCHAR(255) NOT NULL,
    `Zeitstempel` DATETIME NOT NULL,
    PRIMARY KEY (`ID`),
    -- the count groups by address within a time window; the purge selects by time
    KEY `ip_zeitstempel` (`IP`, `Zeitstempel`),
    KEY `zeitstempel` (`Zeitstempel`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Active blocks. DATETIME (not TIMESTAMP) so that "2099-01-01 00:00:00" and later fit.
CREATE TABLE IF NOT EXISTS firewall (
    `ID` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT,
    `Timestamp` DATETIME NOT NULL,
    `revoke` DATETIME NOT NULL,
    `IP` VARCHAR(64) NOT NULL,
    `Reason` VARCHAR(255) NOT NULL,
    `Command` VARCHAR(512) NOT NULL,
    `RQ` VARCHAR(64) NOT NULL,
    PRIMARY KEY (`ID`),
    KEY `ip` (`IP`),
    KEY `revoke` (`revoke`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Released blocks, shared by every instance that uses the same history prefix. Rows are
-- copied whole from the active table, so `ID` is a plain number here: neither generated
-- nor unique, since several active tables (and repeated copies) bring in equal IDs.
-- `HistoryID` is the row's own key: a Galera cluster replicates a table without a primary
-- key only slowly and unreliably. A table made before it existed keeps working.
CREATE TABLE IF NOT EXISTS firewall_history (
    `ID` BIGINT UNSIGNED NOT NULL,
    `Timestamp` DATETIME NOT NULL,
    `revoke` DATETIME NOT NULL,
    `IP` VARCHAR(64) NOT NULL,
    `Reason` VARCHAR(255) NOT NULL,
    `Command` VARCHAR(512) NOT NULL,
    `RQ` VARCHAR(64) NOT NULL,
    `HistoryID` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT,
    PRIMARY KEY (`HistoryID`),
    KEY `id` (`ID`),
    KEY `ip` (`IP`),
    KEY `timestamp` (`Timestamp`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The newest event record whose sightings are stored, one row per machine and event channel:
-- every server has its own event log and its own record numbers, so guards that share a prefix
-- each keep their own mark. The scan writes it in the same transaction as those sightings, only
-- if it still holds what the scan read (so two guards never store one record twice), and reads
-- it before it asks the event log for new records, so a store whose reply was lost (or whose
-- LastRecord never reached Config.ini) is neither lost nor made twice. Without this table the
-- scan stops with an error. A row with an empty Machine is one from before marks were kept per
-- machine: the first guard that finds it takes it over.
CREATE TABLE IF NOT EXISTS lastrecord (
    `Machine` VARCHAR(255) NOT NULL DEFAULT '',
    `Channel` VARCHAR(255) NOT NULL,
    `RecordNumber` BIGINT NOT NULL,
    -- tells the record at RecordNumber from another one numbered alike after the channel was
    -- replaced; empty when the mark is no record read
    `Fingerprint` VARCHAR(64) NOT NULL DEFAULT '',
    PRIMARY KEY (`Machine`, `Channel`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The number of changes to the active blocks, one row (ID 1) per table prefix. Every block,
-- extension and release adds one in the same transaction as its change, so a guard whose
-- firewall agreed with the active blocks at a count, and sees the same count, knows that only
-- time has passed: it compares every address again only when the count moved or the earliest
-- end it saw has come. Without this table blocks, releases and the reconcile stop with an error.
CREATE TABLE IF NOT EXISTS firewallchanges (
    `ID` TINYINT UNSIGNED NOT NULL,
    `Changes` BIGINT UNSIGNED NOT NULL,
    PRIMARY KEY (`ID`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
