// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for the converter: appends one record of the arguments it received to the file that
// TOVRIN3_CONVERTER_RECORD names and exits 0, touching no image. A record is the number of
// arguments on a line of its own, then each argument as given, ended by a NUL byte, so a reader
// knows a record is complete once it holds as many arguments as its count says.
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char *argv[])
{
    const char *recordPath = std::getenv("TOVRIN3_CONVERTER_RECORD");
    if (recordPath == nullptr || *recordPath == '\0')
        return 0;

    std::string record = std::to_string(argc - 1) + '\n';
    for (int index = 1; index < argc; ++index) {
        record += argv[index];
        record += '\0';
    }

    std::FILE *file = std::fopen(recordPath, "ab");
    if (file == nullptr)
        return 1;
    const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
