#include "app/Profile.h"

#include "app/ProfileText.h"
#include "common/FileIo.h"

#include <algorithm>

namespace {

// A profile is a few kilobytes; anything far larger is not ours.
constexpr std::uintmax_t kMaxProfileBytes = 4u << 20;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// A missing file is an empty profile; an unreadable, oversized or binary file is a failure,
// so that no write replaces it.
Result<ProfileText> load(const std::filesystem::path& file)
{
    std::string bytes;
    FileOutcome read = readWholeFile(file, kMaxProfileBytes, &bytes);
    if (read.fault == FileOutcome::Fault::Missing && read.error == ENOENT)
        return ProfileText();
    if (read.fault == FileOutcome::Fault::TooLarge)
        return Status::failure("profile " + file.string() + " is too large");
    if (!read)
        return Status::failure("cannot read profile " + read.message);
    ProfileText text(bytes);
    if (!text.readable())
        return Status::failure("profile " + file.string() + " is not a text file");
    return text;
}

// Names and values that the file could not hold as one line of their own, or that would read
// back as something else (and so be added again on every save).
Status checkName(const std::string& what, const std::string& name, char separator)
{
    if (name.empty())
        return Status::failure("profile " + what + " must not be empty");
    if (name.find_first_of(std::string("\r\n") + separator) != std::string::npos || name.find('\0') != std::string::npos)
        return Status::failure("profile " + what + " " + quoted(name) + " contains a line break or " +
                               quoted(std::string(1, separator)));
    if (name.front() == ' ' || name.front() == '\t' || name.back() == ' ' || name.back() == '\t')
        return Status::failure("profile " + what + " " + quoted(name) + " begins or ends with a blank");
    return Status::success();
}

Status checkSection(const std::string& section) { return checkName("section", section, ']'); }

Status checkKey(const std::string& key)
{
    if (Status s = checkName("key", key, '='); !s)
        return s;
    if (key.front() == '[' || key.front() == ';' || key.front() == '#')
        return Status::failure("profile key " + quoted(key) + " would read as a section or a comment");
    return Status::success();
}

Status checkValue(const std::string& value)
{
    if (value.find_first_of("\r\n") != std::string::npos || value.find('\0') != std::string::npos)
        return Status::failure("profile value contains a line break");
    return Status::success();
}

Status checkStep(const std::string& section, const std::string& key, const std::string* value)
{
    if (Status s = checkSection(section); !s)
        return s;
    if (Status s = checkKey(key); !s)
        return s;
    return value ? checkValue(*value) : Status::success();
}

} // namespace

Profile::Edit& Profile::Edit::set(std::string section, std::string key, std::string value)
{
    m_steps.push_back({Op::Set, std::move(section), std::move(key), std::move(value), {}});
    return *this;
}

Profile::Edit& Profile::Edit::remove(std::string section, std::string key)
{
    m_steps.push_back({Op::Remove, std::move(section), std::move(key), {}, {}});
    return *this;
}

Profile::Edit& Profile::Edit::removeSection(std::string section)
{
    m_steps.push_back({Op::RemoveSection, std::move(section), {}, {}, {}});
    return *this;
}

Profile::Edit& Profile::Edit::replaceSection(std::string section,
                                             std::vector<std::pair<std::string, std::string>> entries)
{
    m_steps.push_back({Op::ReplaceSection, std::move(section), {}, {}, std::move(entries)});
    return *this;
}

Profile::Profile(std::filesystem::path file) : m_file(std::move(file)) {}

std::filesystem::path Profile::defaultPath(const std::filesystem::path& startDir)
{
    return startDir / "tavroset.INI";
}

std::string Profile::getString(const std::string& section, const std::string& key,
                               const std::string& fallback) const
{
    auto text = load(m_file);
    if (!text)
        return fallback;
    return text->value(section, key).value_or(fallback);
}

std::vector<std::pair<std::string, std::string>> Profile::entries(const std::string& section) const
{
    auto text = load(m_file);
    if (!text)
        return {};
    return text->entries(section);
}

std::vector<std::string> Profile::keys(const std::string& section) const
{
    std::vector<std::string> out;
    for (auto& [key, value] : entries(section))
        out.push_back(key);
    return out;
}

Status Profile::writeString(const std::string& section, const std::string& key, const std::string& value)
{
    return apply(Edit().set(section, key, value));
}

Status Profile::deleteKey(const std::string& section, const std::string& key)
{
    return apply(Edit().remove(section, key));
}

Status Profile::deleteSection(const std::string& section)
{
    return apply(Edit().removeSection(section));
}

Status Profile::apply(const Edit& edit)
{
    // Every name is checked before the file is read, so a refused edit changes nothing.
    for (const auto& step : edit.m_steps) {
        Status s = Status::success();
        switch (step.op) {
        case Edit::Op::Set:
            s = checkStep(step.section, step.key, &step.value);
            break;
        case Edit::Op::Remove:
            s = checkStep(step.section, step.key, nullptr);
            break;
        case Edit::Op::RemoveSection:
            s = checkSection(step.section);
            break;
        case Edit::Op::ReplaceSection:
            for (const auto& [key, value] : step.entries)
                if (s)
                    s = checkStep(step.section, key, &value);
            if (s)
                s = checkSection(step.section);
            break;
        }
        if (!s)
            return s;
    }

    auto text = load(m_file);
    if (!text)
        return text.status();
    if (!text->problem().empty())
        return Status::failure("profile " + m_file.string() + " cannot be edited safely: " + text->problem() +
                               "; it was left unchanged (correct that line with a text editor)");
    bool changed = false;
    for (const auto& step : edit.m_steps) {
        switch (step.op) {
        case Edit::Op::Set:
            changed = text->set(step.section, step.key, step.value) || changed;
            break;
        case Edit::Op::Remove:
            changed = text->remove(step.section, step.key) || changed;
            break;
        case Edit::Op::RemoveSection:
            changed = text->removeSection(step.section) || changed;
            break;
        case Edit::Op::ReplaceSection:
            for (const auto& [key, value] : text->entries(step.section)) {
                const bool listed = std::any_of(step.entries.begin(), step.entries.end(), [&](const auto& e) {
                    return ProfileText::sameName(e.first, key);
                });
                if (!listed)
                    changed = text->remove(step.section, key) || changed;
            }
            for (const auto& [key, value] : step.entries)
                changed = text->set(step.section, key, value) || changed;
            break;
        }
    }
    if (!changed)
        return Status::success();
    FileOutcome saved = writeFileAtomically(m_file, text->text());
    if (!saved)
        return Status::failure("cannot save profile " + saved.message);
    return Status::success();
}
