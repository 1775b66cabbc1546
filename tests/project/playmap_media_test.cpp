// The play audio map of clips with PCM sound made by ffmpeg, against the samples ffmpeg itself
// decodes from the same file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "project/playmap.h"
#include "project/project_support.h"

using PlayAudioMap = ProjectTest;

TEST_F(PlayAudioMap, PiecesHoldTheKeptFramesSound) {
    const std::string clip = MediaPath("proj_sound.avi"), raw = dir.file("sound.raw");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -i '" + clip + "' -f s16le '" + raw + "'").c_str()), 0);
    const std::string sound = ReadWholeFile(raw), fileBytes = ReadWholeFile(clip);
    ASSERT_EQ(sound.size(), 16000u);
    ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    AddRevision(kRevInactivate, 3, 6, nullptr);
    AddRevision(kRevDrop, 8, 9, nullptr);
    PlayAudioRecord* audio = BuildPlayAudioMap();
    ASSERT_NE(audio, nullptr);
    // Frame k's samples start at e(k - 1), e(0) = 0, e(k) = trunc(k x 66666 x 8000 / 1000000) - 1.
    auto firstSample = [](int32_t k) { return k == 1 ? 0 : (k - 1) * 66666LL * 8000 / 1000000 - 1; };
    for (int32_t k = 1, p = 0; k <= 15; k++) {
        if (FrameState(k) & kStateInactive) continue;
        std::string bytes;
        for (const AudioPiece& piece : audio[p++].pieces)
            if (piece.count > 0) bytes += fileBytes.substr(piece.offset, piece.count);
        EXPECT_EQ(bytes, sound.substr(2 * firstSample(k), 2 * (firstSample(k + 1) - firstSample(k)))) << k;
    }
    EXPECT_TRUE(boxes->shown.empty());
    MyFree(audio);

    SCOPED_TRACE("a second clip's positions stay silent; a format that cannot be right gives no map");
    ASSERT_TRUE(AppendAVIToProject(nullptr, MediaPath("proj_a.avi").c_str()));
    audio = BuildPlayAudioMap();
    for (int32_t p = 11; p < gProject.totalFrames; p++) EXPECT_EQ(audio[p].pieces[0].offset, 0) << p;
    EXPECT_TRUE(boxes->shown.empty());
    MyFree(audio);
    gProject.head->sampleBits = 4;
    EXPECT_EQ(BuildPlayAudioMap(), nullptr);
    gProject.head->sampleBits = 16;

    ResetProjectForTests();
    ASSERT_TRUE(AppendAVIToProject(nullptr, MediaPath("proj_shortsound.avi").c_str()));
    MyFree(BuildPlayAudioMap());
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Audio insufficient for frame length: 15 30"});
}
