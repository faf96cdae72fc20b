#pragma once

// Where the recorder's frames go (library `framesink`): numbered PNG files in a folder, or
// an MP4 made by ffmpeg, which is fed the raw frames on a pipe and takes the audio from the
// music file as it is. Frames are Width x Height, 3 bytes a pixel (red, green, blue), rows
// from the top.
//
// Nothing is left half-written: a PNG file appears under its name once complete, and the
// MP4 is written beside its name and moved there by Finish. After a failure, or when the
// recording is given up, Abandon removes what was in progress.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TFrameSink {
public:
    virtual ~TFrameSink() = default;
    // False, with Problem set, when the frame could not be written.
    virtual bool Write(const uint8_t* Rgb, std::string& Problem) = 0;
    // Completes the output with the frames written so far.
    virtual bool Finish(std::string& Problem) = 0;
    virtual void Abandon() = 0;
};

// The folder is made when missing; frames go to "frame-000000.png", "frame-000001.png", ...
// Null, with Problem set, when the folder cannot be made or written to.
std::unique_ptr<TFrameSink> OpenPngFolder(const std::string& Folder, int32_t Width, int32_t Height,
                                          std::string& Problem);

// Starts ffmpeg writing an MP4 to Path: H.264 at Fps frames a second and the audio of
// MusicFile, cut where the frames end. An odd width or height is padded with one black
// column or row, as H.264's colour format needs even sizes. Null, with Problem set, when
// Path cannot be written or ffmpeg cannot be started.
std::unique_ptr<TFrameSink> OpenVideo(const std::string& Path, int32_t Width, int32_t Height, int32_t Fps,
                                      const std::string& MusicFile, std::string& Problem);

// The name of frame Index in a PNG folder.
std::string PngFrameName(int64_t Index);

// A PNG image of the frame: 8-bit RGB, no interlacing, every row filtered by its left
// neighbour, deflated with zlib.
void EncodePng(const uint8_t* Rgb, int32_t Width, int32_t Height, std::vector<uint8_t>& Png);

// Whether Program is an executable file in one of the PATH folders.
bool FindProgram(const char* Program);
