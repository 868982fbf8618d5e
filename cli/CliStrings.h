#pragma once
// String ids of the command-line tool's own texts (resources/strings/*.tsv); the
// connection's (21000, 21001) and the edit session's (21011) are defined in core.

enum : int {
    CLI_TEXT_SENSOR_SILENT = 21002,
    CLI_TEXT_INFO_FAILED = 21003,
    CLI_TEXT_FIRMWARE_VERSION = 21004,    // "%s"
    CLI_TEXT_SERIAL_NUMBER = 21005,       // "%s"
    CLI_TEXT_NO_PORTS = 21006,
    CLI_TEXT_COLUMN_PORT = 21007,
    CLI_TEXT_COLUMN_DESCRIPTION = 21008,
    CLI_TEXT_COLUMN_USB_ID = 21009,
    CLI_TEXT_NOTICE_WITH_KEY = 21010,     // "%s: %s (key %d)"
    CLI_TEXT_BAD_LIST = 21012,            // "%s: expected %d comma-separated whole numbers, got \"%s\""
    CLI_TEXT_NOT_A_NUMBER = 21013,        // "%s: \"%s\" is not a number"
    CLI_TEXT_NOT_A_WHOLE_NUMBER = 21014,  // "%s: \"%s\" is not a whole number of 0 or more"
    CLI_TEXT_CONFIG_UNREADABLE = 21015,   // "%s"
    CLI_TEXT_CONFIG_NO_SECTION = 21016,   // "%s"
    CLI_TEXT_CONFIG_UNWRITABLE = 21017,   // "%s"
    CLI_TEXT_CONFIG_SAVED = 21018,        // "%s"
    CLI_TEXT_VERIFY_MISMATCH = 21019,     // "%s", written "%s", read "%s"
    CLI_TEXT_VERIFIED = 21020,
    CLI_TEXT_MONITORING = 21021,          // "%s"
    CLI_TEXT_RECORDED = 21022,            // "%s"
    CLI_TEXT_DEVICE_LOST = 21023,
    CLI_TEXT_NO_REPORT_TIMEOUT = 21024,   // "%d"
    CLI_TEXT_RECORD_UNREADABLE = 21025,   // "%s"
    CLI_TEXT_PARTITIONS = 21026,          // "%s"
    CLI_TEXT_NO_PARTITIONS = 21027,
    CLI_TEXT_PARTITION_NOT_PROGRAMMABLE = 21028,  // "%d", "%s"
    CLI_TEXT_STOPPED = 21029,
    CLI_TEXT_COLUMN_GATE = 21030,
    CLI_TEXT_GENERATION_TIMEOUT = 21031,  // "%d"
    CLI_TEXT_NOTICE = 21032,              // "%s: %s"
    CLI_TEXT_RECORD_FAILED = 21033,       // "%s", "%s"
    CLI_TEXT_CONFIG_UNREADABLE_WHY = 26000,  // "%s", "%s"
    CLI_TEXT_CONFIG_UNWRITABLE_WHY = 26001,  // "%s", "%s"
    CLI_TEXT_RECORD_FOLDER_UNUSABLE = 26002, // "%s", "%s"
    CLI_TEXT_SUSPICIOUS_TEXT = 26003,        // "%s"
    CLI_TEXT_IMAGE_UNREADABLE = 26004,       // "%s", "%s"
    CLI_TEXT_PORTS_SUMMARY = 27000,       // "%d", "%d", "%d"
    CLI_TEXT_PORT_TWICE = 27001,          // "%s"
    CLI_TEXT_PORT_LIST_EMPTY = 27002,     // "%s"
    CLI_TEXT_PORT_LIST_UNREADABLE = 27003,  // "%s"
    CLI_TEXT_COLUMN_BY_ID = 27004,
};
