#include "board_record.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>

#include "platform.h"
#include "sha256.h"

using platform::Format;

namespace {

// Text fields carry their length, so that no choice of characters can make two records read alike.
void Field(std::string& text, const char* name, std::string_view value)
{
    text += Format("%s=%zu:", name, value.size());
    text.append(value);
    text += '\n';
}

void Field(std::string& text, const char* name, int64_t value)
{
    text += Format("%s=%lld\n", name, static_cast<long long>(value));
}

// 17 significant digits give back the same double; "-" is a value that is not there.
template <typename T>
void Field(std::string& text, const char* name, const std::optional<T>& value)
{
    if (!value)
        text += Format("%s=-\n", name);
    else if constexpr (std::is_floating_point_v<T>)
        text += Format("%s=%.17g\n", name, static_cast<double>(*value));
    else
        Field(text, name, static_cast<int64_t>(*value));
}

// Hexadecimal SHA-256 of the pieces handed to add, "" when the digest fails.
template <typename Feed>
std::string Sha256(Feed feed)
{
    CSha256 digest;
    if (!feed([&](const void* data, size_t size) { return digest.Add(data, size); }))
        return "";
    return digest.Hex();
}

}  // namespace

std::string CanonicalText(const BoardRecord& r)
{
    std::string text = Format("qbx-board-record %d\n", r.format);
    if (r.format == kRecordFormatBeforeBenches) {
        Field(text, "id", r.seq);
    } else {
        Field(text, "bench", r.bench);
        Field(text, "seq", r.seq);
    }
    Field(text, "prev", r.prevHash);
    Field(text, "started", r.started);
    Field(text, "ended", r.ended);
    Field(text, "host", r.host);
    Field(text, "version", r.programVersion);
    Field(text, "bsdl", r.bsdlFile);
    Field(text, "bsdl_digest", r.bsdlDigest);
    Field(text, "vectors", r.vectorsFile);
    Field(text, "vectors_digest", r.vectorsDigest);
    Field(text, "serial", int64_t{r.serial});
    Field(text, "operator_current", r.operatorCurrent);
    Field(text, "thermometer", r.thermometer);
    Field(text, "adc_sensor1", r.adcSensor1);
    Field(text, "adc_sensor2", r.adcSensor2);
    Field(text, "vin", r.vin);
    Field(text, "vmem", r.vmem);
    Field(text, "supply_current", r.supplyCurrent);
    Field(text, "power_flags", r.powerFlags);
    Field(text, "temperature", r.temperature);
    for (uint32_t code : r.idCodes)
        Field(text, "idcode", int64_t{code});
    Field(text, "verdict", r.verdict);
    for (const std::string& line : r.errorLines)
        Field(text, "error", line);
    for (const PinErrorRecord& p : r.pinErrors) {
        Field(text, "pin_error", int64_t{p.line});
        for (int value : {p.vector, p.abs, p.fpga, p.read, p.expected})
            Field(text, " value", int64_t{value});
        for (const std::string* value : {&p.group, &p.pin, &p.packagePin})
            Field(text, " text", *value);
    }
    for (const FaultRecord& f : r.faults) {
        Field(text, "fault", f.kind);
        Field(text, " level", f.level);
        Field(text, " description", f.description);
        for (const std::string& net : f.nets)
            Field(text, " net", net);
    }
    Field(text, "report", r.reportFile);
    Field(text, "signature", r.reportSignature);
    return text;
}

std::string RecordHash(const BoardRecord& record)
{
    const std::string text = CanonicalText(record);
    return Sha256([&](auto add) { return add(text.data(), text.size()); });
}

std::string ContentDigest(const BoardRecord& record)
{
    BoardRecord content = record;
    content.format = kRecordFormat;
    content.seq = 0;
    content.prevHash.clear();
    return RecordHash(content);
}

std::string UtcNow()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec, static_cast<int>(millis));
}

std::string Printable(std::string_view text)
{
    std::string clean(text);
    for (char& c : clean)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return clean;
}

std::string FileSha256(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "";
    return Sha256([&](auto add) {
        char buffer[1 << 16];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            if (!add(buffer, static_cast<size_t>(in.gcount())))
                return false;
        return in.eof();
    });
}
