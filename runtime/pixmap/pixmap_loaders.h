// The picture format modules: their run-once initialisers and the savers.
//
// Each initialiser runs InitPixmapModule() first and then registers its one loader. Registration
// pushes to the front of the list, so the order of registration fixes the order of trial.
// InitPixmapLoaders() runs them as BMP, JPEG, PNG, TGA, which gives the trial order TGA, PNG, JPEG,
// BMP. The program and every test that walks the registry call InitPixmapLoaders() before anything
// else registers a loader.
//
// Limits the loaders add, so that a hostile file costs neither unbounded memory nor time; each
// gives the empty pointer before any pixel memory is taken:
// - JPEG and PNG: at most 256 MiB of decoded pixels, counted in the pixmap format the picture
//   decodes to (rows padded to 4 bytes; for grey-with-alpha PNGs with the 2-byte rows they are
//   expanded from);
// - BMP: sides up to 32768 and less than 2 GiB of pixels, no more than the data left in a stream
//   of known length holds; from a stream that cannot tell its length at most 256 MiB;
// - TGA: sides up to 4096, no more than the data left could hold even run-length coded;
// - JPEG: at most 1000 scans, and as many block visits over all scans as 32 Mi plus 64 for every
//   byte of the file (a real photograph of any size stays well below); libjpeg's working memory up
//   to 768 MiB;
// - PNG: no more rows than the data left in a stream of known length can inflate to; ancillary
//   chunks up to 8 MiB.
#pragma once

#include "runtime/pixmap/pixmap.h"
#include "runtime/stream/url.h"

namespace kiln {

void InitBmpLoader();
void InitJpegLoader();
void InitPngLoader();
void InitTgaLoader();
void InitPixmapLoaders();

// JPEG of the pixmap converted to RGB; 1 on success, 0 when the URL cannot be opened for writing or
// the encoder or a write fails.
int SavePixmapAsJpeg(const Ref<TPixmap>& pixmap, const Url& url, int quality);
// PNG at zlib level `compression` clamped to 0..9; 1 on success, 0 when the URL cannot be opened or
// the encoder fails.
int SavePixmapAsPng(const Ref<TPixmap>& pixmap, const Url& url, int compression);

// Decoders usable without the registry (a text URL or a stream object); the empty pointer on failure.
Ref<TPixmap> PixmapFromJpeg(const Url& source);
Ref<TPixmap> PixmapFromPng(const Url& source);

}  // namespace kiln
