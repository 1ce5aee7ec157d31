// Encoder costs on a screen-like picture with a continuously changing area, at 1440 wide
// and 60 frames per second: conversion, encode time per preset (ratios to superfast and to
// the 16.7 ms frame budget), bitrate, PSNR after decoding, and decode time.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

#include "stream/h264/encodeur.h"
#include "tools/voir/decodeur_h264.h"

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <libyuv.h>

using namespace vimba;
using Horloge = std::chrono::steady_clock;

namespace {

constexpr int L = 1440, H = 900, IPS = 60, IMAGES = 240;

double cpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ms(Horloge::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A desktop: flat panels, rows of "text", and a 400×300 area whose content changes every frame.
void dessiner(std::vector<std::uint8_t>& bgra, int n) {
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < L; ++x) {
      std::uint8_t* p = &bgra[(y * L + x) * 4];
      const bool texte = (y % 18) < 11 && ((x * 7 + y * 3) % 13) < 5 && x > 80 && x < 1300;
      const std::uint8_t v = texte ? 30 : (x < 220 ? 60 : 238);
      p[0] = v; p[1] = v; p[2] = static_cast<std::uint8_t>(x < 220 ? 90 : v); p[3] = 255;
    }
  const int ox = 300 + (n * 4) % 600, oy = 200;
  for (int y = oy; y < oy + 300; ++y)
    for (int x = ox; x < ox + 400; ++x) {
      std::uint8_t* p = &bgra[(y * L + x) * 4];
      // A scrolling page: text lines moving up over a soft gradient.
      const int yy = y + n * 3;
      const bool texte = (yy % 18) < 11 && ((x * 7 + yy * 3) % 13) < 5;
      p[0] = texte ? 20 : static_cast<std::uint8_t>(150 + (x - ox) / 8);
      p[1] = texte ? 20 : static_cast<std::uint8_t>(170 + (y - oy) / 8);
      p[2] = texte ? 20 : 200;
    }
}

struct NV12 {
  std::vector<std::uint8_t> y = std::vector<std::uint8_t>(L * H), uv = std::vector<std::uint8_t>(L * H / 2);
  std::vector<std::uint8_t> u = std::vector<std::uint8_t>(L * H / 4), v = std::vector<std::uint8_t>(L * H / 4);
  void depuis(const std::vector<std::uint8_t>& bgra) {
    libyuv::ARGBToJ420(bgra.data(), L * 4, y.data(), L, u.data(), L / 2, v.data(), L / 2, L, H);
    libyuv::MergeUVPlane(u.data(), L / 2, v.data(), L / 2, uv.data(), L, L / 2, H / 2);
  }
};

struct Resultat {
  std::string preset;
  double cpu = 0, p50 = 0, p95 = 0, debit = 0, psnr = 0, psnrFin = 0, decodage = 0;
};

Resultat mesurer(const std::string& preset, const std::vector<NV12>& images, int debit) {
  Resultat r{preset};
  Encodeur enc(preset);
  std::vector<Octets> trames;
  Octets avcc;
  if (!enc.demarrer(L, H, debit, IPS)) return r;
  enc.definirLivrer([&](Octets o, bool, std::optional<Octets> rec) {
    if (rec) avcc = *rec;
    trames.push_back(std::move(o));
  });
  std::vector<double> durees;
  std::size_t octets = 0;
  const double cpu0 = cpuMs();
  for (int n = 0; n < IMAGES; ++n) {
    const NV12& im = images[n % images.size()];
    const auto t0 = Horloge::now();
    enc.encoder({L, H, im.y.data(), L, im.uv.data(), L}, n == 0);
    durees.push_back(ms(Horloge::now() - t0));
  }
  // CPU per frame × 60 frames per second = share of one core when every frame changes.
  r.cpu = (cpuMs() - cpu0) / IMAGES * IPS / 10.0;
  for (auto& t : trames) octets += t.size();
  std::sort(durees.begin(), durees.end());
  r.p50 = durees[durees.size() / 2];
  r.p95 = durees[durees.size() * 95 / 100];
  r.debit = octets * 8.0 * IPS / IMAGES;

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->extradata = static_cast<std::uint8_t*>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::memcpy(ctx->extradata, avcc.data(), avcc.size());
  ctx->extradata_size = static_cast<int>(avcc.size());
  ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
  ctx->thread_count = 1;
  avcodec_open2(ctx, codec, nullptr);
  AVPacket* pk = av_packet_alloc();
  AVFrame* fr = av_frame_alloc();
  double somme = 0, tempsDec = 0;
  int vues = 0;
  for (std::size_t k = 0; k < trames.size(); ++k) {
    av_new_packet(pk, static_cast<int>(trames[k].size()));
    std::memcpy(pk->data, trames[k].data(), trames[k].size());
    const auto t0 = Horloge::now();
    avcodec_send_packet(ctx, pk);
    av_packet_unref(pk);
    while (avcodec_receive_frame(ctx, fr) == 0) {
      tempsDec += ms(Horloge::now() - t0);
      const NV12& im = images[vues % images.size()];
      double se = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < L; ++x) {
          const double d = double(fr->data[0][y * fr->linesize[0] + x]) - im.y[y * L + x];
          se += d * d;
        }
      r.psnrFin = se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * L * H / se);
      somme += r.psnrFin;
      ++vues;
    }
  }
  r.psnr = vues ? somme / vues : 0;
  r.decodage = vues ? tempsDec / vues : 0;
  av_frame_free(&fr);
  av_packet_free(&pk);
  avcodec_free_context(&ctx);
  return r;
}

}  // namespace

int main() {
  std::vector<std::uint8_t> bgra(L * H * 4);
  std::vector<NV12> images(60);
  std::vector<double> conv;
  for (int n = 0; n < 60; ++n) {
    dessiner(bgra, n);
    const auto t0 = Horloge::now();
    images[n].depuis(bgra);
    conv.push_back(ms(Horloge::now() - t0));
  }
  std::sort(conv.begin(), conv.end());
  const int debit = std::getenv("DEBIT") ? std::atoi(std::getenv("DEBIT")) : 2099520;  // the starting rate of a 1440×900 screen at quality 0.45
  std::printf("1440x900 NV12 (J420 full range), %d fps asked, %d frames, a 400x300 area changing every frame\n", IPS, IMAGES);
  std::printf("BGRA -> NV12 conversion p50: %.2f ms\n\n", conv[conv.size() / 2]);
  std::printf("%-10s %9s %9s %12s %12s %7s %10s %9s %9s %11s\n", "preset", "enc p50", "enc p95", "x superfast", "x 16.7ms", "core %", "bit/s", "PSNR dB", "last dB", "decode ms");
  double base = 0;
  for (const char* preset : {"superfast", "veryfast", "faster", "ultrafast"}) {
    const Resultat r = mesurer(preset, images, debit);
    if (base == 0) base = r.p50;
    std::printf("%-10s %9.2f %9.2f %12.2f %12.2f %7.1f %10.0f %9.2f %9.2f %11.2f\n", preset, r.p50, r.p95, r.p50 / base, r.p50 / (1000.0 / IPS), r.cpu,
                r.debit, r.psnr, r.psnrFin, r.decodage);
  }

  // One frame from BGRA pixels to BGRA pixels on the viewer's side, capture and network
  // left out: conversion, encoding with the default preset, decoding, colours back.
  {
    Encodeur enc;
    DecodeurH264 dec;
    ImageDecodee vue;
    std::vector<double> durees;
    Octets trame;
    std::optional<Octets> record;
    enc.demarrer(L, H, debit, IPS);
    enc.definirLivrer([&](Octets o, bool, std::optional<Octets> r) {
      trame = std::move(o);
      if (r) record = std::move(r);
    });
    NV12 nv;
    std::vector<std::vector<std::uint8_t>> sources(60, std::vector<std::uint8_t>(L * H * 4));
    for (int n = 0; n < 60; ++n) dessiner(sources[n], n);
    for (int n = 0; n < IMAGES; ++n) {
      const auto t0 = Horloge::now();
      nv.depuis(sources[n % 60]);
      enc.encoder({L, H, nv.y.data(), L, nv.uv.data(), L}, n == 0);
      if (record) {
        dec.configurer(*record);
        record.reset();
      }
      dec.decoder(trame.data(), trame.size(), vue);
      durees.push_back(ms(Horloge::now() - t0));
    }
    std::sort(durees.begin(), durees.end());
    const double p50 = durees[durees.size() / 2], p95 = durees[durees.size() * 95 / 100];
    std::printf("\npipeline BGRA -> NV12 -> encode (default preset) -> decode -> BGRA: p50 %.2f ms, p95 %.2f ms"
                " (x 35 ms goal: %.2f / %.2f)\n", p50, p95, p50 / 35.0, p95 / 35.0);
  }
  return 0;
}
