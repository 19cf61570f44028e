// What the station keeps of every board it tests, and the interface it records boards through.
//
// A record is written once, when the board's verdict is known, and never changed. Each carries a
// SHA-256 chained over the record of the same bench before it: the hash covers the previous
// record's hash, the bench and the record's place in the bench's chain, and every field of this
// one (child rows included), so a record that was changed or removed afterwards shows when the
// chain is checked. The database's own number of a record (its id) is not covered: a record
// copied into another database keeps its bench and fields, and joins that database's chain of
// its bench.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One wrong cell of the interconnection test: the fields of its error line.
struct PinErrorRecord {
    int line = 0;    // index of its error line in the board's error lines
    int vector = 0;  // 1-based position within its group
    int abs = 0;     // 0-based vector index
    std::string group;
    int fpga = 0;
    std::string pin;         // port name
    std::string packagePin;  // such as "G29"
    int read = 0;
    int expected = 0;
};

// One fault of the diagnosis to the net.
struct FaultRecord {
    std::string kind;               // "short", "open-or-stuck", "open-receiver", "unexplained"
    std::optional<int> level;       // the constant level read, when there is one
    std::string description;        // the line the operator saw, without "Diagnosis: "
    std::vector<std::string> nets;  // the nets it names, each by its driver pin
};

inline constexpr const char* kVerdictPass = "PASS";
inline constexpr const char* kVerdictFail = "FAIL";
// The operator ended the program at the board's current prompt: no verdict box was shown.
inline constexpr const char* kVerdictEnded = "ENDED";

// What a record's hash covers: 1 for records made before benches were named (the record's place
// written as "id"), 2 since (the bench and the record's place in the bench's chain).
inline constexpr int kRecordFormatBeforeBenches = 1;
inline constexpr int kRecordFormat = 2;

struct BoardRecord {
    int64_t id = 0;        // 1, 2, 3, ... in the order recorded in its database; given by the store
    std::string bench;     // the test bench (station) that tested the board
    int64_t seq = 0;       // 1, 2, 3, ... in its bench's chain; given by the store
    int format = kRecordFormat;  // given by the store
    std::string started;   // UTC, ISO 8601 with milliseconds: "2024-05-01T10:20:30.123Z"
    std::string ended;
    std::string host;
    std::string programVersion;
    std::string bsdlFile;
    std::string bsdlDigest;     // SHA-256 of the BSDL file, hexadecimal
    std::string vectorsFile;
    std::string vectorsDigest;  // the digest the station prints and signs into reports
    uint32_t serial = 0;
    std::optional<double> operatorCurrent;
    std::string thermometer;  // 1-Wire identities, upper-case hexadecimal; "" when not found
    std::string adcSensor1;
    std::string adcSensor2;
    std::optional<double> vin;  // supply values, when they were read
    std::optional<double> vmem;
    std::optional<double> supplyCurrent;
    std::optional<int> powerFlags;
    std::optional<double> temperature;
    std::vector<uint32_t> idCodes;  // in the order read
    std::string verdict;            // kVerdictPass, kVerdictFail or kVerdictEnded
    std::vector<std::string> errorLines;  // every reported message, without its line end
    std::vector<PinErrorRecord> pinErrors;
    std::vector<FaultRecord> faults;
    std::string reportFile;       // the signed report of a passing board
    std::string reportSignature;  // its last line
    std::string prevHash;         // given by the store
    std::string hash;

    // The day the test started, "YYYY-MM-DD".
    std::string Day() const { return started.substr(0, 10); }
};

// The hash of the first record's predecessor.
inline const std::string kChainStart(64, '0');

// Every field but the hash in one unambiguous text (strings length-prefixed, doubles to 17
// digits): what the hash covers.
std::string CanonicalText(const BoardRecord& record);

// SHA-256 (hexadecimal) of the record's previous hash and its canonical text.
std::string RecordHash(const BoardRecord& record);

// SHA-256 (hexadecimal) of what the record says about its board, wherever its chain puts it (its
// bench included; its place, previous hash and format not): the same test in two databases has
// the same content digest.
std::string ContentDigest(const BoardRecord& record);

// The current time, UTC, as records write it.
std::string UtcNow();

// text with every byte outside printable ASCII replaced by '?', so that every database and export
// format takes it.
std::string Printable(std::string_view text);

// Hexadecimal SHA-256 of a file's bytes; "" when it cannot be read.
std::string FileSha256(const std::string& path);

// What the station records its boards into.
class CBoardRecorder {
public:
    virtual ~CBoardRecorder() = default;
    // Appends the record in one transaction, giving it its id, place and hashes. False, with the
    // reason in why, when nothing was recorded. True with why set: recorded, with something the
    // operator should know ("recorded in FILE: the line's server is unreachable").
    virtual bool Append(BoardRecord& record, std::string& why) = 0;
    // The database as messages name it.
    virtual std::string Name() const = 0;
};

// False in a build without the results database (QBX_RECORDS off).
bool ResultsDatabaseBuilt();

// Opens the results database named by target (an SQLite file, or a PostgreSQL connection string)
// for recording. nullptr, with the reason in why, when it cannot be used, or when this build has no
// results database. A PostgreSQL database that cannot be reached gives a recorder all the same: it
// records into the SQLite file fallbackFile until the server answers, and why says so.
std::unique_ptr<CBoardRecorder> OpenBoardRecorder(const std::string& target, const std::string& fallbackFile, std::string& why);
