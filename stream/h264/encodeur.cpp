#include "stream/h264/encodeur.h"

#include <cstring>

extern "C" {
#include <x264.h>
}

namespace vimba {

namespace {

// Bit rate in kbit/s for x264, never zero (x264 would take zero as "no limit").
int enKbits(int bits) { return bits / 1000 > 0 ? bits / 1000 : 1; }

// The average rate and a one-second cap at twice it: a VBV of maxrate = debit with a
// buffer of one second of it bounds any one second to buffer + maxrate = 2 × debit, and the
// long-run average to debit. Under it runs constant quality rather than ABR: x264 keeps the
// first ABR target through a reconfig and climbs back slowly after a fall, while a capped
// constant quality follows `regler` within a second both ways (tests/h264) and spends
// nothing on a still desktop.
void fixerDebit(x264_param_t& p, int debit) {
  p.rc.i_bitrate = enKbits(debit);
  p.rc.i_vbv_max_bitrate = enKbits(debit);
  p.rc.i_vbv_buffer_size = enKbits(debit);
}

}  // namespace

Octets enregistrementAvcC(const Octets& sps, const Octets& pps) {
  // Units arrive with their 4-byte length prefix; the record wants 16-bit lengths.
  if (sps.size() < 4 + 4 || pps.size() < 4 + 1 || sps.size() - 4 > 0xFFFF || pps.size() - 4 > 0xFFFF) return {};
  const std::uint8_t* s = sps.data() + 4;
  const std::size_t ns = sps.size() - 4;
  const std::uint8_t* q = pps.data() + 4;
  const std::size_t nq = pps.size() - 4;
  Octets r;
  r.reserve(16 + ns + nq);
  r.push_back(1);
  r.push_back(s[1]);  // profile
  r.push_back(s[2]);  // compatibility
  r.push_back(s[3]);  // level
  r.push_back(0xFC | 3);  // length size 4
  r.push_back(0xE0 | 1);  // one SPS
  r.push_back(static_cast<std::uint8_t>(ns >> 8));
  r.push_back(static_cast<std::uint8_t>(ns));
  r.insert(r.end(), s, s + ns);
  r.push_back(1);  // one PPS
  r.push_back(static_cast<std::uint8_t>(nq >> 8));
  r.push_back(static_cast<std::uint8_t>(nq));
  r.insert(r.end(), q, q + nq);
  if (s[1] == 100 || s[1] == 110 || s[1] == 122 || s[1] == 144) {
    r.push_back(0xFC | 1);  // 4:2:0
    r.push_back(0xF8 | 0);  // 8-bit luma
    r.push_back(0xF8 | 0);  // 8-bit chroma
    r.push_back(0);         // no SPS extension
  }
  return r;
}

Encodeur::~Encodeur() { arreter(); }

bool Encodeur::demarrer(int largeur, int hauteur, int debitBits, int imagesParSeconde) {
  std::lock_guard<std::mutex> garde(verrou_);
  arreterVerrouille();
  if (largeur <= 0 || hauteur <= 0 || imagesParSeconde <= 0) return false;

  x264_param_t p;
  if (x264_param_default_preset(&p, preset_.c_str(), "zerolatency") < 0) return false;
  p.i_csp = X264_CSP_NV12;
  // 4:2:0 needs even sizes; a scaled capture can be odd, and its last row or column is
  // left out rather than losing the codec.
  p.i_width = largeur & ~1;
  p.i_height = hauteur & ~1;
  if (p.i_width == 0 || p.i_height == 0) return false;
  p.i_fps_num = static_cast<std::uint32_t>(imagesParSeconde);
  p.i_fps_den = 1;
  p.i_timebase_num = 1;
  p.i_timebase_den = 1000;
  p.b_vfr_input = 0;
  p.i_keyint_max = imagesParSeconde * 5;
  p.i_bframe = 0;
  p.b_cabac = 1;  // after the preset: ultrafast would turn it off
  p.b_repeat_headers = 0;
  p.b_annexb = 0;
  p.i_log_level = X264_LOG_NONE;
  p.vui.b_fullrange = 1;
  p.vui.i_colmatrix = 6;  // BT.601, which the J420 conversion uses
  p.rc.i_rc_method = X264_RC_CRF;
  p.rc.f_rf_constant = 20;  // fine enough that on changing screens the cap is what binds
  p.rc.f_vbv_buffer_init = 0.9f;
  fixerDebit(p, debitBits > 0 ? debitBits : 1000);
  if (x264_param_apply_profile(&p, "high") < 0) return false;

  session_ = x264_encoder_open(&p);
  if (!session_) return false;
  largeur_ = largeur;
  hauteur_ = hauteur;
  debit_ = debitBits;
  if (!lireEnTetes()) {
    arreterVerrouille();
    return false;
  }
  return true;
}

bool Encodeur::lireEnTetes() {
  x264_nal_t* nals = nullptr;
  int n = 0;
  if (x264_encoder_headers(session_, &nals, &n) < 0) return false;
  Octets sps, pps;
  for (int i = 0; i < n; ++i) {
    Octets u(nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
    if (nals[i].i_type == NAL_SPS) sps = std::move(u);
    if (nals[i].i_type == NAL_PPS) pps = std::move(u);
  }
  Octets r = enregistrementAvcC(sps, pps);
  if (r.empty()) return false;
  enTetes_ = std::move(r);
  return true;
}

void Encodeur::regler(int debit) {
  std::lock_guard<std::mutex> garde(verrou_);
  if (!session_ || debit <= 0) return;
  debit_ = debit;
  x264_param_t p;
  x264_encoder_parameters(session_, &p);
  fixerDebit(p, debit);
  x264_encoder_reconfig(session_, &p);
  lireEnTetes();
}

void Encodeur::encoder(const ImageNV12& image, bool forcerImageComplete) {
  std::lock_guard<std::mutex> garde(verrou_);
  if (!session_) return;
  if (image.largeur != largeur_ || image.hauteur != hauteur_ || !image.y || !image.uv) return;
  if (image.pasY < largeur_ || image.pasUV < (largeur_ & ~1)) return;

  x264_picture_t entree;
  x264_picture_init(&entree);
  entree.img.i_csp = X264_CSP_NV12;
  entree.img.i_plane = 2;
  entree.img.plane[0] = const_cast<std::uint8_t*>(image.y);
  entree.img.i_stride[0] = image.pasY;
  entree.img.plane[1] = const_cast<std::uint8_t*>(image.uv);
  entree.img.i_stride[1] = image.pasUV;
  entree.i_pts = ++horloge_;
  entree.i_type = forcerImageComplete ? X264_TYPE_IDR : X264_TYPE_AUTO;

  x264_picture_t sortie;
  x264_nal_t* nals = nullptr;
  int n = 0;
  const int taille = x264_encoder_encode(session_, &nals, &n, &entree, &sortie);
  if (taille <= 0 || n <= 0) return;

  // x264 lays the units of one picture end to end, each with its length prefix.
  Octets octets(nals[0].p_payload, nals[0].p_payload + taille);
  const bool cle = sortie.b_keyframe != 0;
  std::optional<Octets> record;
  // The record counts as given only once someone received it, so a decoder never misses it.
  if (cle && livrer_ && (!reglages_ || *reglages_ != enTetes_)) {
    reglages_ = enTetes_;
    record = enTetes_;
  }
  if (livrer_) livrer_(std::move(octets), cle, std::move(record));
}

void Encodeur::arreter() {
  std::lock_guard<std::mutex> garde(verrou_);
  arreterVerrouille();
}

void Encodeur::arreterVerrouille() {
  if (!session_) return;
  x264_t* ancienne = session_;
  session_ = nullptr;
  reglages_.reset();
  horloge_ = 0;
  livrer_ = nullptr;
  // Drain what x264 still holds without delivering it.
  x264_picture_t sortie;
  x264_nal_t* nals = nullptr;
  int n = 0;
  while (x264_encoder_delayed_frames(ancienne) > 0)
    if (x264_encoder_encode(ancienne, &nals, &n, nullptr, &sortie) < 0) break;
  x264_encoder_close(ancienne);
}

bool Encodeur::vivant() const {
  std::lock_guard<std::mutex> garde(verrou_);
  return session_ != nullptr;
}

int Encodeur::debit() const {
  std::lock_guard<std::mutex> garde(verrou_);
  return debit_;
}

void Encodeur::definirLivrer(Livraison livrer) {
  std::lock_guard<std::mutex> garde(verrou_);
  livrer_ = std::move(livrer);
}

}  // namespace vimba
