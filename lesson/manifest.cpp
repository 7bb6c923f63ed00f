#include "manifest.h"

#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "codepage.h"
#include "paths.h"

namespace {

using Json = nlohmann::ordered_json;

bool Fail(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return false;
}

const char* const kTextFields[] = {"soundFile", "pictureFile", "questionText", "answerText"};
const char* const kNumberFields[] = {"waitSeconds", "fontSize"};

bool ReadNumber(const Json& value, const std::string& where, uint32_t& out, std::string* error) {
    if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<int64_t>() >= 0))
        return Fail(error, where + ": must be a whole number from 0 to 4294967295");
    uint64_t n = value.get<uint64_t>();
    if (n > 0xFFFFFFFFull)
        return Fail(error, where + ": must be a whole number from 0 to 4294967295");
    out = static_cast<uint32_t>(n);
    return true;
}

bool ReadPage(const Json& page, const std::string& where, CCfgPack& pack, std::string* error) {
    if (!page.is_object())
        return Fail(error, where + ": must be an object or null");
    for (auto it = page.begin(); it != page.end(); ++it) {
        bool known = false;
        for (const char* field : kTextFields)
            known = known || it.key() == field;
        for (const char* field : kNumberFields)
            known = known || it.key() == field;
        if (!known)
            return Fail(error, where + ": unknown field \"" + it.key() + "\"");
    }
    std::string* texts[] = {&pack.soundFile, &pack.pictureFile, &pack.questionText, &pack.answerText};
    for (int i = 0; i < 4; ++i) {
        std::string field = where + "." + kTextFields[i];
        auto it = page.find(kTextFields[i]);
        if (it == page.end()) {
            if (i < 2)
                return Fail(error, field + ": missing");
            texts[i]->clear();
            continue;
        }
        if (!it->is_string())
            return Fail(error, field + ": must be a string");
        if (!Utf8ToCp949(it->get_ref<const std::string&>(), *texts[i]))
            return Fail(error, field + ": holds characters the lesson's code page (CP949) cannot represent");
    }
    uint32_t* numbers[] = {&pack.waitSeconds, &pack.fontSize};
    for (int i = 0; i < 2; ++i) {
        std::string field = where + "." + kNumberFields[i];
        auto it = page.find(kNumberFields[i]);
        if (it == page.end())
            return Fail(error, field + ": missing");
        if (!ReadNumber(*it, field, *numbers[i], error))
            return false;
    }
    return true;
}

bool PlainFileName(const std::string& name) {
    return name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

}  // namespace

bool LessonFromJson(const std::string& json, CCfgFile& cfg, std::string* error) {
    Json root = Json::parse(json, nullptr, false);
    if (root.is_discarded())
        return Fail(error, "not valid JSON");
    if (!root.is_object())
        return Fail(error, "the lesson must be a JSON object");
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (it.key() != "textBesidePicture" && it.key() != "pages")
            return Fail(error, "unknown field \"" + it.key() + "\"");
    }
    auto beside = root.find("textBesidePicture");
    uint32_t textBesidePicture = 0;
    if (beside == root.end())
        return Fail(error, "textBesidePicture: missing");
    if (!ReadNumber(*beside, "textBesidePicture", textBesidePicture, error))
        return false;
    auto pages = root.find("pages");
    if (pages == root.end())
        return Fail(error, "pages: missing");
    if (!pages->is_array())
        return Fail(error, "pages: must be an array");
    if (pages->size() > 0x7FFFFFFF)
        return Fail(error, "pages: too many");

    CCfgPackArray parsed;
    parsed.SetSize(static_cast<int>(pages->size()));
    for (size_t i = 0; i < pages->size(); ++i) {
        const Json& page = (*pages)[i];
        if (page.is_null())
            continue;
        auto pack = std::make_unique<CCfgPack>();
        if (!ReadPage(page, "pages[" + std::to_string(i) + "]", *pack, error))
            return false;
        parsed.SetAt(static_cast<int>(i), pack.release());
    }
    cfg.packs.RemoveAll();
    cfg.packs.SetSize(parsed.GetSize());
    for (int i = 0; i < parsed.GetSize(); ++i) {
        cfg.packs.SetAt(i, parsed.GetAt(i));
        parsed.CObArray::SetAt(i, nullptr);  // ownership moved to cfg
    }
    cfg.textBesidePicture = textBesidePicture;
    return true;
}

bool WriteLessonJson(const CCfgFile& cfg, const std::function<void(const std::string&)>& out,
                     const std::function<void(const std::string&)>& warn) {
    // The text Json's dump(2) gives for the whole lesson, made one page at a time so
    // that a lesson of millions of pages never stands in memory twice over.
    bool clean = true;
    out("{\n  \"textBesidePicture\": " + Json(cfg.textBesidePicture).dump() + ",\n  \"pages\": [");
    for (int i = 0; i < cfg.GetPackCount(); ++i) {
        std::string text = i == 0 ? "\n    " : ",\n    ";
        const CCfgPack* pack = cfg.GetPack(i);
        if (!pack) {
            out(text + "null");
            continue;
        }
        Json page = Json::object();
        const std::string* texts[] = {&pack->soundFile, &pack->pictureFile, &pack->questionText, &pack->answerText};
        for (int t = 0; t < 4; ++t) {
            std::string utf8;
            if (!Cp949ToUtf8(*texts[t], utf8)) {
                clean = false;
                if (warn)
                    warn("pages[" + std::to_string(i) + "]." + kTextFields[t] +
                         ": bytes that are not CP949 text were replaced");
            }
            page[kTextFields[t]] = utf8;
        }
        page["waitSeconds"] = pack->waitSeconds;
        page["fontSize"] = pack->fontSize;
        // Indented as an element two levels down.
        for (char c : page.dump(2, ' ', false, Json::error_handler_t::replace)) {
            text += c;
            if (c == '\n')
                text += "    ";
        }
        out(text);
    }
    out(cfg.GetPackCount() > 0 ? "\n  ]\n}\n" : "]\n}\n");
    return clean;
}

bool LessonToJson(const CCfgFile& cfg, std::string& json, std::vector<std::string>* warnings) {
    json.clear();
    return WriteLessonJson(
        cfg, [&json](const std::string& text) { json += text; },
        [warnings](const std::string& text) {
            if (warnings)
                warnings->push_back(text);
        });
}

bool LessonFiles(const CCfgFile& cfg, const std::string& folder, std::vector<PackageFile>& files,
                 std::string* error) {
    files.clear();
    std::set<std::string> seen;
    for (int i = 0; i < cfg.GetPackCount(); ++i) {
        const CCfgPack* pack = cfg.GetPack(i);
        if (!pack)
            continue;
        for (const std::string* name : {&pack->soundFile, &pack->pictureFile}) {
            if (name->empty() || !seen.insert(*name).second)
                continue;
            std::string utf8;
            Cp949ToUtf8(*name, utf8);
            if (!PlainFileName(*name))
                return Fail(error, "pages[" + std::to_string(i) + "]: \"" + utf8 +
                                       "\" must be a plain file name (packages are extracted without folders)");
            files.push_back(PackageFile::FromPath(*name, JoinPath(folder, utf8)));
        }
    }
    return true;
}

bool PackManifest(const std::string& manifestPath, const std::string& outPath, std::string* error) {
    std::ifstream in(manifestPath, std::ios::binary);
    if (!in)
        return Fail(error, manifestPath + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    CCfgFile cfg;
    std::string why;
    if (!LessonFromJson(text.str(), cfg, &why))
        return Fail(error, manifestPath + ": " + why);
    size_t slash = manifestPath.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : manifestPath.substr(0, slash));
    std::vector<PackageFile> files;
    if (!LessonFiles(cfg, folder, files, &why))
        return Fail(error, manifestPath + ": " + why);
    return WritePackage(outPath, cfg, files, error);
}
