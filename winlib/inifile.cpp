#include "winlib/inifile.h"

#include <array>
#include <utility>
#include <vector>

#include "winlib/codepage.h"
#include "winlib/profile.h"

std::int32_t TIniFile::AccessInteger(std::string_view key, std::int32_t value) {
    const std::string k(key);
    if (WriteMode) {
        CurrentProfileStore().WriteString(Section.c_str(), k.c_str(), std::to_string(value).c_str(), FileName.c_str());
        return value;
    }
    return CurrentProfileStore().GetInt(Section.c_str(), k.c_str(), value, FileName.c_str());
}

std::string TIniFile::AccessString(std::string_view key, std::string_view value) {
    const std::string k(key), v(value);
    if (WriteMode) {
        CurrentProfileStore().WriteString(Section.c_str(), k.c_str(), v.c_str(), FileName.c_str());
        return v;
    }
    return CurrentProfileStore().GetString(Section.c_str(), k.c_str(), v.c_str(), FileName.c_str());
}

void TIniFile::DeleteKey(std::string_view key) {
    const std::string k(key);
    CurrentProfileStore().WriteString(Section.c_str(), k.c_str(), nullptr, FileName.c_str());
}

namespace {
std::optional<std::string>& ProgramDirectoryOverride() {
    static std::optional<std::string> value;
    return value;
}
}  // namespace

std::string ProgramDirectory() {
    const auto& forced = ProgramDirectoryOverride();
    return forced ? *forced : inifile_detail::QueryProgramDirectory();
}

std::optional<std::string> OverrideProgramDirectory(std::optional<std::string> directory) {
    return std::exchange(ProgramDirectoryOverride(), std::move(directory));
}

namespace {

// One piece of the name being built; inserted directories are never
// searched for macros again, not even by a later macro.
struct TPiece {
    std::string Text;
    bool Inserted = false;
};

void ReplaceMacro(std::vector<TPiece>& pieces, std::string_view macro, const std::string& directory) {
    std::vector<TPiece> out;
    for (TPiece& piece : pieces) {
        if (piece.Inserted) {
            out.push_back(std::move(piece));
            continue;
        }
        std::string_view rest = piece.Text;
        for (std::size_t at; (at = rest.find(macro)) != std::string_view::npos;) {
            if (at > 0) out.push_back({std::string(rest.substr(0, at)), false});
            out.push_back({directory, true});
            rest.remove_prefix(at + macro.size());
        }
        if (!rest.empty()) out.push_back({std::string(rest), false});
    }
    pieces = std::move(out);
}

}  // namespace

std::string ResolveFileName(std::string_view name) {
    std::vector<TPiece> pieces{{std::string(name), false}};
    // Each directory is asked for only when its macro is there.
    const std::array<std::pair<std::string_view, std::string (*)()>, 3> macros{{
        {"%windir%", WindowsDirectory},
        {"%tmpdir%", TempDirectory},
        {"%sysdir%", SystemDirectory},
    }};
    for (const auto& [macro, directory] : macros) {
        bool present = false;
        for (const TPiece& piece : pieces) present = present || (!piece.Inserted && piece.Text.find(macro) != std::string::npos);
        if (present) ReplaceMacro(pieces, macro, directory());
    }
    std::string result;
    for (const TPiece& piece : pieces) result += piece.Inserted ? piece.Text : Utf8From1251(piece.Text);
    if (!inifile_detail::HasLocation(result)) result.insert(0, ProgramDirectory());
    return result;
}
