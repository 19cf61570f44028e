// Subcommands of qbx-inspect. Each takes the arguments after its own name, writes its report to
// out and its complaints to err, and returns the process exit status (0 done, 1 the input could
// not be used, 2 a usage error). Output lines end in "\n": these are tools for people and scripts.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// qbx-inspect bsdl FILE
int InspectBsdl(const std::vector<std::string>& args, FILE* out, FILE* err);
extern const char* const kInspectBsdlUsage;

// qbx-inspect match [--nocase] PATTERN (TEXT | --text-file FILE)
int InspectMatch(const std::vector<std::string>& args, FILE* out, FILE* err);
extern const char* const kInspectMatchUsage;

// qbx-inspect vectors BSDL VECTORS
int InspectVectors(const std::vector<std::string>& args, FILE* out, FILE* err);
extern const char* const kInspectVectorsUsage;
