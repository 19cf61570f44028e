#include "report.h"

#include <cinttypes>
#include <cstdio>

#include "datahash.h"
#include "error_report.h"
#include "files.h"
#include "platform.h"
#include "qbx_board.h"

using platform::Format;

std::string ReportPath(const std::string& outputFolder, uint32_t serial, uint64_t temperatureSensor)
{
    return platform::JoinPath(outputFolder, Format(kQbxBoard.reportNameFormat, serial, temperatureSensor));
}

bool FormatReport(const ReportValues& v, std::string& text)
{
    const std::string lines[] = {
        Format("0x%" PRIX64 ",0x%" PRIX64 ",0x%" PRIX64 "\r\n", v.temperatureSensor, v.adcSensor1, v.adcSensor2),
        Format("Icc=%.3f\r\n", v.operatorCurrent),
        Format("Vin=%f\r\n", static_cast<double>(v.vin)),
        Format("Vmem=%f\r\n", static_cast<double>(v.vmem)),
        Format("Vmem_fault=%u\r\n", _POWERFLAGS::Unpack(v.powerFlags).vmemFault ? 1u : 0u),
        Format("I=%f\r\n", static_cast<double>(v.current)),
        Format("Bus=%u\r\n", _POWERFLAGS::Unpack(v.powerFlags).bus),
        Format("Temperature=%.2f\r\n", static_cast<double>(v.temperature)),
        Format("vectors=%s\r\n", v.vectorsDigest.c_str()),
        std::string("Test Interconnections OK\r\n"),
    };

    CDataHash hash;
    hash.Init();  // a failure shows in the result of GetHexString
    std::string report;
    for (const std::string& line : lines) {
        report += line;
        hash.AddString(line);
    }
    hash.AddSalt();
    std::string signature;
    if (!hash.GetHexString(signature))
        return false;
    report += signature;
    report += "\r\n";
    text = std::move(report);
    return true;
}

std::string WriteReport(const ReportValues& values, bool* written)
{
    std::string path = ReportPath(values.outputFolder, values.serial, values.temperatureSensor);
    if (written)
        *written = false;

    std::string text;
    if (!FormatReport(values, text)) {
        ReportError("ERROR Signing output file %s\r\n", path.c_str());
        return path;
    }
    std::string why;
    if (!platform::WriteFileAtomically(path, text, &why)) {
        ReportError("ERROR Open output file %s \r\n", path.c_str());
        std::printf("%s: %s\r\n", path.c_str(), why.c_str());
        return path;
    }
    if (written)
        *written = true;
    return path;
}

void ShowSuccessBox(const std::string& reportPath)
{
    platform::MessageBox(Format("Test Board SUCCESS\ngenerated file %s", reportPath.c_str()), platform::BoxIcon::Info);
}

void ShowFailBox(const std::string& errorFilePath, const std::string& errorFileFailure)
{
    std::string text = Format("Test Board FAIL\nsee console messages and\nfile %s\nfor vectors errors", errorFilePath.c_str());
    if (!errorFileFailure.empty())
        text += "\n(the file is incomplete: " + errorFileFailure + ")";
    platform::MessageBox(text, platform::BoxIcon::Error);
}
