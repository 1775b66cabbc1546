// winmm's wave output and millisecond clock under their Windows names.
//
// The device is chosen once per open: QUILLORY_WAVEOUT=file:PATH (or SetWaveOutTarget) writes every
// block, in order, into a WAVE file at PATH and reports each block done at once (the file is written
// whole or not at all: it takes the name PATH when the device closes, and only when every block
// landed); "none" means no device; otherwise the default output of Qt Multimedia in push mode. Done
// notifications (WOM_DONE with the header) are queued to the opening thread's event loop, as window messages
// were, and delivered at once when there is no event loop; waveOutReset and waveOutClose deliver the ones
// still owed before they return.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/wintypes.h"

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFF;
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint32_t CALLBACK_NULL = 0x00000000;
constexpr uint32_t CALLBACK_WINDOW = 0x00010000;

constexpr uint32_t WOM_OPEN = 0x3BB;
constexpr uint32_t WOM_CLOSE = 0x3BC;
constexpr uint32_t WOM_DONE = 0x3BD;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

struct HWAVEOUT__;
using HWAVEOUT = HWAVEOUT__*;

// Receives WOM_OPEN, WOM_CLOSE and WOM_DONE (with the finished header) on the opening thread.
using WaveCallback = std::function<void(HWAVEOUT device, uint32_t message, WAVEHDR* header)>;

// "" follows QUILLORY_WAVEOUT; otherwise the same forms ("none", "file:PATH", "default").
void SetWaveOutTarget(const std::string& target);
// Why the last file device's file was not written ("Couldn't write PATH" and the reason), or empty;
// set when the open or the close fails, cleared by the next open of a file device.
std::string WaveOutFileProblem();

// 1 for the file device, 0 for none, else the number of Qt's audio outputs.
uint32_t waveOutGetNumDevs();
// With WAVE_FORMAT_QUERY only asks whether the format can be played (WAVERR_BADFORMAT when not).
// An open device plays what is written until it is paused.
MMRESULT waveOutOpen(HWAVEOUT* device, uint32_t deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                     uint32_t flags);
MMRESULT waveOutPause(HWAVEOUT device);
MMRESULT waveOutRestart(HWAVEOUT device);
// Stops at once; every block not yet reported is reported done before this returns.
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header, uint32_t size);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header, uint32_t size);

// Milliseconds of the steady clock, or of the source installed for tests.
uint32_t timeGetTime();
// Installs a clock (tests); an empty function restores the steady clock.
void SetTimeSource(std::function<uint32_t()> source);
