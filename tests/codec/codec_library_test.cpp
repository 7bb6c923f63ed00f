// The codec library through its C entry points, and the binding the recorder uses.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "codec_binding.h"
#include "dov_ovoru.h"
#include "mp3_decode.h"
#include "test_support.h"

namespace {

// One frame of the output plus the encoder's delay (576 + 529 samples), in seconds.
double Tolerance(long outRate, int frameSamples) { return (frameSamples + 1105.0) / outRate; }

BE_CONFIG RecorderConfig(BE_DWORD bitrate) {
    BE_CONFIG cfg;
    std::memset(&cfg, 0, sizeof(cfg));
    cfg.dwConfig = BE_CONFIG_LAME;
    cfg.dwStructVersion = 1;
    cfg.dwStructSize = sizeof(cfg);
    cfg.dwSampleRate = 44100;
    cfg.nMode = BE_MP3_MODE_JSTEREO;
    cfg.dwBitrate = bitrate;
    cfg.nPreset = LQP_CBR;
    cfg.dwMpegVersion = bitrate > 32 ? MPEG1 : MPEG2;
    cfg.bPrivate = 1;
    cfg.bCopyright = 1;
    cfg.bOriginal = 1;
    cfg.bNoRes = 1;
    return cfg;
}

// A gliding tone with a slow beat, so the decoded sound has a shape to compare.
std::vector<int16_t> TestTone(double seconds) {
    size_t frames = static_cast<size_t>(seconds * 44100);
    std::vector<int16_t> pcm(frames * 2);
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
        double t = double(i) / 44100;
        phase += 2 * M_PI * (200 + 300 * t / seconds) / 44100;
        double v = 9000 * std::sin(phase) * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t));
        pcm[2 * i] = static_cast<int16_t>(v);
        pcm[2 * i + 1] = static_cast<int16_t>(v * 0.8);
    }
    return pcm;
}

// Encodes `pcm` in capture-sized calls (2048 samples) and flushes when asked.
std::string Encode(const BE_CONFIG& config, const std::vector<int16_t>& pcm, bool flush) {
    BE_CONFIG cfg = config;
    BE_DWORD chunk = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    EXPECT_EQ(beInitStream(&cfg, &chunk, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_NE(stream, 0u);
    std::string mp3;
    std::vector<uint8_t> out(1048576);
    for (size_t pos = 0; pos < pcm.size(); pos += 2048) {
        BE_DWORD n = static_cast<BE_DWORD>(std::min<size_t>(2048, pcm.size() - pos));
        BE_DWORD written = static_cast<BE_DWORD>(out.size());
        EXPECT_EQ(beEncodeChunk(stream, n, pcm.data() + pos, out.data(), &written), BE_ERR_SUCCESSFUL);
        mp3.append(reinterpret_cast<char*>(out.data()), written);
    }
    if (flush) {
        BE_DWORD written = static_cast<BE_DWORD>(out.size());
        EXPECT_EQ(beDeinitStream(stream, out.data(), &written), BE_ERR_SUCCESSFUL);
        mp3.append(reinterpret_cast<char*>(out.data()), written);
    }
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
    return mp3;
}

}  // namespace

TEST(CodecLibrary, EncodedStreamDecodesToTheInputsDurationAndShape) {
    testsupport::TempDir dir;
    std::vector<int16_t> pcm = TestTone(3.0);
    for (BE_DWORD bitrate : {32u, 64u}) {
        SCOPED_TRACE(bitrate);
        std::string path = dir.file("out" + std::to_string(bitrate) + ".mp3");
        ASSERT_TRUE(testsupport::WriteFile(path, Encode(RecorderConfig(bitrate), pcm, true)));
        testmp3::Decoded decoded = testmp3::DecodeFile(path);
        ASSERT_TRUE(decoded.ok);
        // 32 kbit/s is MPEG-2 at half the input rate; above that MPEG-1 at the input rate.
        EXPECT_EQ(decoded.rate, bitrate == 32 ? 22050 : 44100);
        EXPECT_EQ(decoded.channels, 2);
        int frame = bitrate == 32 ? 576 : 1152;
        EXPECT_NEAR(decoded.Seconds(), 3.0, Tolerance(decoded.rate, frame));
        EXPECT_GE(decoded.Seconds(), 3.0);

        int step = static_cast<int>(44100 / decoded.rate);
        std::vector<double> input = testmp3::MonoDownsampled(pcm, step);
        std::vector<double> output = testmp3::MonoDownsampled(decoded.pcm, 1);
        EXPECT_GT(testmp3::BestCorrelation(input, output, 2400), 0.8);
    }
}

TEST(CodecLibrary, WithoutFlushTheTailIsShortByAtMostOneFrameAndTheDelay) {
    testsupport::TempDir dir;
    std::vector<int16_t> pcm = TestTone(2.0);
    std::string path = dir.file("noflush.mp3");
    ASSERT_TRUE(testsupport::WriteFile(path, Encode(RecorderConfig(32), pcm, false)));
    testmp3::Decoded decoded = testmp3::DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_NEAR(decoded.Seconds(), 2.0, Tolerance(decoded.rate, 576));
}

TEST(CodecLibrary, RejectsBadRecordsHandlesAndBuffers) {
    BE_DWORD chunk = 0, bufferSize = 0;
    HBE_STREAM stream = 0;
    BE_CONFIG cfg = RecorderConfig(32);
    cfg.dwConfig = BE_CONFIG_MP3;
    EXPECT_EQ(beInitStream(&cfg, &chunk, &bufferSize, &stream), BE_ERR_INVALID_FORMAT);
    cfg = RecorderConfig(32);
    cfg.dwStructSize = 100;
    EXPECT_EQ(beInitStream(&cfg, &chunk, &bufferSize, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    cfg = RecorderConfig(32);
    cfg.dwSampleRate = 0;
    EXPECT_EQ(beInitStream(&cfg, &chunk, &bufferSize, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beInitStream(nullptr, &chunk, &bufferSize, &stream), BE_ERR_INVALID_FORMAT_PARAMETERS);

    cfg = RecorderConfig(32);
    ASSERT_EQ(beInitStream(&cfg, &chunk, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
    EXPECT_GT(chunk, 0u);
    EXPECT_GT(bufferSize, 0u);

    // An output smaller than what the call produces is refused, not overrun.
    std::vector<int16_t> pcm = TestTone(0.5);
    std::vector<uint8_t> out(16 + 8, 0xAB);
    BE_DWORD written = 16;
    BE_ERR err = BE_ERR_SUCCESSFUL;
    for (size_t pos = 0; pos + 2048 <= pcm.size() && err == BE_ERR_SUCCESSFUL; pos += 2048) {
        written = 16;
        err = beEncodeChunk(stream, 2048, pcm.data() + pos, out.data(), &written);
    }
    EXPECT_EQ(err, BE_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(written, 0u);
    for (size_t i = 16; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xAB);

    written = 100;
    EXPECT_EQ(beEncodeChunk(stream, 3, pcm.data(), out.data(), &written), BE_ERR_INVALID_FORMAT_PARAMETERS);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
    EXPECT_EQ(beCloseStream(stream), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beEncodeChunk(stream, 2048, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(beEncodeChunk(0, 2048, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
}

TEST(CodecLibrary, InfoTagIsWrittenOnlyForStreamsThatReservedIt) {
    testsupport::TempDir dir;
    std::vector<int16_t> pcm = TestTone(1.0);
    for (bool reserve : {false, true}) {
        BE_CONFIG cfg = RecorderConfig(64);
        cfg.bWriteVBRHeader = reserve;
        BE_DWORD chunk = 0, bufferSize = 0;
        HBE_STREAM stream = 0;
        ASSERT_EQ(beInitStream(&cfg, &chunk, &bufferSize, &stream), BE_ERR_SUCCESSFUL);
        std::string mp3;
        std::vector<uint8_t> out(1048576);
        for (size_t pos = 0; pos < pcm.size(); pos += 2048) {
            BE_DWORD written = static_cast<BE_DWORD>(out.size());
            ASSERT_EQ(beEncodeChunk(stream, 2048, pcm.data() + pos, out.data(), &written), BE_ERR_SUCCESSFUL);
            mp3.append(reinterpret_cast<char*>(out.data()), written);
        }
        BE_DWORD written = static_cast<BE_DWORD>(out.size());
        ASSERT_EQ(beDeinitStream(stream, out.data(), &written), BE_ERR_SUCCESSFUL);
        mp3.append(reinterpret_cast<char*>(out.data()), written);
        std::string path = dir.file("tag.mp3");
        ASSERT_TRUE(testsupport::WriteFile(path, mp3));
        if (reserve) {
            EXPECT_EQ(beWriteVBRHeader(path.c_str()), BE_ERR_SUCCESSFUL);
            std::string tagged = testsupport::ReadFile(path);
            EXPECT_EQ(tagged.size(), mp3.size());
            EXPECT_TRUE(tagged.find("Info") != std::string::npos || tagged.find("Xing") != std::string::npos);
            EXPECT_NEAR(testmp3::DecodeFile(path).Seconds(), 1.0, 0.03);
        } else {
            EXPECT_NE(beWriteInfoTag(stream, path.c_str()), BE_ERR_SUCCESSFUL);
            EXPECT_EQ(testsupport::ReadFile(path), mp3);
        }
        EXPECT_EQ(beCloseStream(stream), BE_ERR_SUCCESSFUL);
    }
}

TEST(CodecLibrary, VersionIsFilled) {
    BE_VERSION v;
    std::memset(&v, 0xFF, sizeof(v));
    beVersion(&v);
    EXPECT_EQ(v.byDLLMajorVersion, 1);
    EXPECT_EQ(v.byMajorVersion, 3);
    EXPECT_GE(v.wYear, 2024);
    EXPECT_EQ(v.zHomepage[0], '\0');
}

TEST(CodecBinding, LoadsTheLibraryByNameAndExportsTheEntryPoints) {
    EXPECT_STREQ(CodecLibraryFileName(), "libDovOvoru.so");
    ASSERT_TRUE(LoadCodecLibrary());
    EXPECT_TRUE(LoadCodecLibrary());
    void* lib = dlopen("libDovOvoru.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    for (const char* name : {"beInitStream", "beEncodeChunk", "beDeinitStream", "beCloseStream", "beVersion",
                             "beWriteVBRHeader", "beWriteInfoTag"})
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    dlclose(lib);
}

TEST(CodecBinding, FillsTheRecordAsTheRecorderNeedsIt) {
    ASSERT_TRUE(LoadCodecLibrary());
    CMP3Encoder encoder;
    ASSERT_TRUE(encoder.InitStream(32, 44100, 0));
    const BE_CONFIG& cfg = encoder.GetConfig();
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&cfg);
    auto dword = [&](size_t offset) {
        return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
               uint32_t(bytes[offset + 3]) << 24;
    };
    const std::pair<size_t, uint32_t> expected[] = {
        {0, 256}, {4, 1},  {8, 331},  {12, 44100}, {16, 0}, {20, 1}, {24, 32}, {28, 0}, {32, 12}, {36, 0}, {40, 0},
        {44, 0},  {48, 1}, {52, 0},   {56, 1},     {60, 1}, {64, 0}, {68, 0},  {72, 0}, {76, 0},  {80, 0}, {84, 1},
        {88, 0}};
    for (auto [offset, value] : expected)
        EXPECT_EQ(dword(offset), value) << "offset " << offset;
    for (size_t i = 92; i < 331; ++i)
        ASSERT_EQ(bytes[i], 0) << "offset " << i;

    CMP3Encoder faster;
    ASSERT_TRUE(faster.InitStream(64, 44100, 0));
    EXPECT_EQ(faster.GetConfig().dwMpegVersion, 1u);
}

TEST(CodecBinding, ANewStreamClosesTheFinishedOne) {
    ASSERT_TRUE(LoadCodecLibrary());
    std::vector<int16_t> pcm(2048, 100);
    std::vector<uint8_t> out(1048576);
    HBE_STREAM first;
    {
        CMP3Encoder encoder;
        ASSERT_TRUE(encoder.InitStream(32, 44100, 0));
        first = encoder.GetStream();
        DWORD written = 1048576;
        EXPECT_EQ(encoder.EncodeChunk(pcm.data(), 2048, out.data(), &written), 0u);

        ASSERT_TRUE(encoder.InitStream(32, 44100, 0));
        EXPECT_NE(encoder.GetStream(), first);
        written = 1048576;
        EXPECT_EQ(beEncodeChunk(first, 2048, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
        first = encoder.GetStream();
    }
    DWORD written = 1048576;
    EXPECT_EQ(beEncodeChunk(first, 2048, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
}
