// Real cameras' own description files for the tests that run over them: those in the folder
// named by MIRVA_GENICAM_XML_DIR (none when it is unset), with the given extensions, in name
// order.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace pylon_test {

inline std::vector<std::string> DescriptionFiles(std::initializer_list<const char*> extensions = {".xml"})
{
    std::vector<std::string> files;
    const char* dir = std::getenv("MIRVA_GENICAM_XML_DIR");
    if (!dir || !*dir)
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        for (const char* extension : extensions)
            if (entry.path().extension() == extension)
                files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// A test name of a description file: its stem with every character but letters and digits
// made '_' (for INSTANTIATE_TEST_SUITE_P).
struct DescriptionTestName {
    template <class Info>
    std::string operator()(const Info& info) const
    {
        std::string name = std::filesystem::path(info.param).stem().string();
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    }
};

} // namespace pylon_test
