// The picture format modules: their run-once initialisers and the savers.
//
// Each initialiser runs InitPixmapModule() first and then registers its one loader. Registration
// pushes to the front of the list, so the order of registration fixes the order of trial.
// InitPixmapLoaders() runs them as BMP, JPEG, PNG, TGA, which gives the trial order TGA, PNG, JPEG,
// BMP. The program and every test that walks the registry call InitPixmapLoaders() before anything
// else registers a loader.
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
