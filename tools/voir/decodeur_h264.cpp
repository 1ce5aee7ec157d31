#include "tools/voir/decodeur_h264.h"

#include <cstring>

#include "tools/voir/lecteur.h"

extern "C" {
#include <libavcodec/avcodec.h>
}
#include <libyuv.h>

namespace vimba {

DecodeurH264::~DecodeurH264() { fermer(); }

void DecodeurH264::fermer() {
  if (contexte_) avcodec_free_context(&contexte_);
  if (paquet_) av_packet_free(&paquet_);
  if (image_) av_frame_free(&image_);
}

bool DecodeurH264::configurer(const std::vector<std::uint8_t>& avcc) {
  fermer();
  // An avcC record starts with version 1 and holds at least its fixed fields.
  if (avcc.size() < 7 || avcc[0] != 1) return false;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec) return false;
  contexte_ = avcodec_alloc_context3(codec);
  paquet_ = av_packet_alloc();
  image_ = av_frame_alloc();
  if (!contexte_ || !paquet_ || !image_) {
    fermer();
    return false;
  }
  contexte_->extradata = static_cast<std::uint8_t*>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!contexte_->extradata) {
    fermer();
    return false;
  }
  std::memcpy(contexte_->extradata, avcc.data(), avcc.size());
  contexte_->extradata_size = static_cast<int>(avcc.size());
  // One picture out per sample, none held back for reordering the stream never uses.
  contexte_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  contexte_->thread_count = 1;
  if (avcodec_open2(contexte_, codec, nullptr) < 0) {
    fermer();
    return false;
  }
  return true;
}

bool DecodeurH264::decoder(const std::uint8_t* donnees, std::size_t taille, ImageDecodee& sortie) {
  if (!contexte_ || !donnees || taille == 0 || taille > (1u << 30)) return false;
  if (av_new_packet(paquet_, static_cast<int>(taille)) < 0) return false;
  std::memcpy(paquet_->data, donnees, taille);
  const int envoi = avcodec_send_packet(contexte_, paquet_);
  av_packet_unref(paquet_);
  if (envoi < 0) return false;
  bool vue = false;
  while (avcodec_receive_frame(contexte_, image_) == 0) {
    const int l = image_->width, h = image_->height;
    const bool planaire = image_->format == AV_PIX_FMT_YUV420P || image_->format == AV_PIX_FMT_YUVJ420P;
    if (planaire && l > 0 && h > 0) {
      sortie.largeur = l;
      sortie.hauteur = h;
      sortie.bgra.resize(static_cast<std::size_t>(l) * h * 4);
      const bool plein = image_->color_range == AVCOL_RANGE_JPEG || image_->format == AV_PIX_FMT_YUVJ420P;
      auto convertir = plein ? libyuv::J420ToARGB : libyuv::I420ToARGB;
      convertir(image_->data[0], image_->linesize[0], image_->data[1], image_->linesize[1], image_->data[2],
                image_->linesize[2], sortie.bgra.data(), l * 4, l, h);
      vue = true;
    }
    av_frame_unref(image_);
  }
  return vue;
}

}  // namespace vimba

namespace vimba::voir {
namespace {

class DecodeurVideo : public Decodeur {
 public:
  bool traiter(const Message& m, Tableau& t, std::string& erreur) override {
    if (m.genre == 'C') {
      if (!h264_.configurer(m.charge)) return erreur = "configuration H.264 refusée", false;
      return true;
    }
    if (m.genre != 'V' || m.champs.size() < 6) return erreur = "message inattendu pour H.264", false;
    if (!h264_.pret()) return erreur = "image H.264 avant sa configuration", false;
    if (!h264_.decoder(m.charge.data(), m.charge.size(), image_)) return erreur = "image H.264 illisible", false;
    t.largeur = image_.largeur;
    t.hauteur = image_.hauteur;
    t.bgra = image_.bgra;
    t.px = static_cast<int>(m.champs[3]);
    t.py = static_cast<int>(m.champs[4]);
    return true;
  }

 private:
  vimba::DecodeurH264 h264_;
  vimba::ImageDecodee image_;
};

}  // namespace

std::unique_ptr<Decodeur> decodeurH264() { return std::make_unique<DecodeurVideo>(); }

}  // namespace vimba::voir
