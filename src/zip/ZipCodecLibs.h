#pragma once
// The decoders of the codec table beyond deflate, each in its own file.

#include <memory>

#include "ZipCodec.h"

namespace zipcodec {

std::unique_ptr<Decoder> NewDeflate64();
std::unique_ptr<Decoder> NewBzip2();
std::unique_ptr<Decoder> NewLzma();
std::unique_ptr<Decoder> NewXz();
std::unique_ptr<Decoder> NewZstd();

}  // namespace zipcodec
