// The lesson as JSON, for authors: one object
//   {"textBesidePicture": 0, "pages": [{"soundFile": "01.mp3", "pictureFile": "01.jpg",
//     "questionText": "", "answerText": "", "waitSeconds": 3, "fontSize": 20}, null, ...]}
// with texts in UTF-8 (CP949 in the lesson) and null for an empty slot.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cfg_file.h"
#include "package_writer.h"

// Parses the JSON into cfg (replacing its pages). False, with a message naming the
// offending field, for malformed JSON, unknown or missing fields, numbers outside 0 to
// 4294967295, and text CP949 cannot hold. The texts may be left out (empty).
bool LessonFromJson(const std::string& json, CCfgFile& cfg, std::string* error);

// The lesson as JSON, indented. Bytes that are not valid CP949 come out as U+FFFD;
// each such field is named in warnings (when given). False when any was found.
bool LessonToJson(const CCfgFile& cfg, std::string& json, std::vector<std::string>* warnings);
// The same text handed to out piece by piece, each warning to warn (may be empty) as
// it is found: memory stays that of one page whatever the lesson's size.
bool WriteLessonJson(const CCfgFile& cfg, const std::function<void(const std::string&)>& out,
                     const std::function<void(const std::string&)>& warn);

// The files a lesson needs beside its config.cfg: every page's sound and picture, each
// once, taken from folder (where they are named in UTF-8). False when a name is not a
// plain file name (the player extracts packages flat, so folders would be lost).
bool LessonFiles(const CCfgFile& cfg, const std::string& folder, std::vector<PackageFile>& files,
                 std::string* error);

// Builds a package from a manifest file; page files are relative to its folder.
bool PackManifest(const std::string& manifestPath, const std::string& outPath, std::string* error);
