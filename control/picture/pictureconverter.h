// CPictureConverter: turns a picture decoded by FFmpeg (any of its pixel
// formats) into 32-bit BGRX pixels at the size it is shown, with libswscale.
// One per thread that converts; it keeps its scaler for the next picture of
// the same size and format.
#pragma once

#include "jpegdecoder.h"

struct AVFrame;
struct SwsContext;

class CPictureConverter
{
public:
    CPictureConverter() = default;
    ~CPictureConverter();
    CPictureConverter(const CPictureConverter&) = delete;
    CPictureConverter& operator=(const CPictureConverter&) = delete;

    // Scales pSource to fit cxFit x cyFit with its aspect kept. False when
    // it can't (no size to fit, a picture too large, or no scaler for it).
    bool Convert(const AVFrame* pSource, UINT cxFit, UINT cyFit, CDecodedFrame* pFrame);

private:
    SwsContext* m_pScaler = nullptr;
};
