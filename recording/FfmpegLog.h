#pragma once
// Where FFmpeg's own messages go. Left alone, FFmpeg's encoders write their chatter to standard
// error ("clipping dct coefficients" many times a second per camera). Installed, FFmpeg keeps
// errors only: with tracing on, its messages (errors, warnings and notes) go to the tracer and
// nothing to standard error; with tracing off, its errors go to standard error, each text at most
// once a minute (the rate control repeats its complaints for every frame).
//
// InstallFfmpegLog is called before FFmpeg is used (the WMV writer's Open, on a record start
// thread) and may be called again from any thread: a plug-in loaded since (the GStreamer FFmpeg
// elements set their own callback) is overruled. The callback runs on whatever thread FFmpeg
// logs from.

#include <chrono>

void InstallFfmpegLog();

// How long a repeated error text stays off standard error.
inline constexpr std::chrono::seconds kFfmpegRepeatQuiet{60};
