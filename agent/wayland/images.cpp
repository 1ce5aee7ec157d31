#include "agent/wayland/images.h"

#include <libyuv/convert_argb.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "agent/wayland/portail.h"
#include "agent/wayland/sortie.h"

namespace vimba::wayland {

struct ImagesPortail::Etat {
    pw_thread_loop* boucle = nullptr;
    pw_context* contexte = nullptr;
    pw_core* coeur = nullptr;
    pw_stream* flot = nullptr;
    spa_hook ecouteFlot{};
    spa_video_info_raw format{};
    std::atomic<bool> perdu{false};  // the stream ended: connect again on the next start

    // Filled on the PipeWire thread, read under `verrou` by the consumers.
    mutable std::mutex verrou;
    std::condition_variable nouvelle;
    std::vector<std::uint8_t> image, arriere;
    int largeur = 0, hauteur = 0;
    std::uint64_t numero = 0;
    std::chrono::steady_clock::time_point arrivee{};
    std::optional<std::pair<int, int>> curseur;  // in stream pixels, while the meta says where
    // The main output's part of the stream when the stream is wider than it (whole desktop).
    std::optional<std::pair<int, int>> origineCoupe;
    int largeurCoupe = 0, hauteurCoupe = 0;
    bool coupeConnue = false;

    void fermer() {
        if (flot) {
            pw_stream_disconnect(flot);
            pw_stream_destroy(flot);
            flot = nullptr;
        }
        if (coeur) pw_core_disconnect(coeur);
        coeur = nullptr;
        if (contexte) pw_context_destroy(contexte);
        contexte = nullptr;
    }

    void recevoir() {
        pw_buffer* b = pw_stream_dequeue_buffer(flot);
        if (!b) return;
        spa_buffer* sb = b->buffer;
        const spa_data& d = sb->datas[0];
        const int w = static_cast<int>(format.size.width), h = static_cast<int>(format.size.height);
        // A buffer may carry only a pointer move, with no picture.
        if (auto* c = static_cast<spa_meta_cursor*>(spa_buffer_find_meta_data(sb, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
            std::lock_guard v(verrou);
            if (spa_meta_cursor_is_valid(c))
                curseur = std::pair{c->position.x, c->position.y};
            else
                curseur.reset();
        }
        if (d.data && d.chunk && d.chunk->size > 0 && !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && w > 0 && h > 0) {
            const int pas = d.chunk->stride > 0 ? d.chunk->stride : w * 4;
            const auto* src = static_cast<const std::uint8_t*>(d.data) + d.chunk->offset;
            if (static_cast<std::size_t>(pas) * (h - 1) + static_cast<std::size_t>(w) * 4 <= d.maxsize - d.chunk->offset) {
                arriere.resize(static_cast<std::size_t>(w) * 4 * h);
                std::uint8_t* dst = arriere.data();
                const int pasDst = w * 4;
                switch (format.format) {
                    case SPA_VIDEO_FORMAT_RGBx:
                    case SPA_VIDEO_FORMAT_RGBA: libyuv::ABGRToARGB(src, pas, dst, pasDst, w, h); break;
                    case SPA_VIDEO_FORMAT_xRGB:
                    case SPA_VIDEO_FORMAT_ARGB: libyuv::BGRAToARGB(src, pas, dst, pasDst, w, h); break;
                    case SPA_VIDEO_FORMAT_xBGR:
                    case SPA_VIDEO_FORMAT_ABGR: libyuv::RGBAToARGB(src, pas, dst, pasDst, w, h); break;
                    default:
                        for (int y = 0; y < h; ++y) std::memcpy(dst + static_cast<std::size_t>(y) * pasDst, src + static_cast<std::size_t>(y) * pas, pasDst);
                }
                {
                    std::lock_guard v(verrou);
                    image.swap(arriere);
                    largeur = w;
                    hauteur = h;
                    ++numero;
                    arrivee = std::chrono::steady_clock::now();
                }
                nouvelle.notify_all();
            }
        }
        pw_stream_queue_buffer(flot, b);
    }

    void formatChange(const spa_pod* param) {
        std::uint32_t type = 0, sousType = 0;
        if (!param || spa_format_parse(param, &type, &sousType) < 0 || type != SPA_MEDIA_TYPE_video ||
            sousType != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_video_info_raw f{};
        if (spa_format_video_raw_parse(param, &f) < 0) return;
        format = f;
        std::uint8_t tampon[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(tampon, sizeof(tampon));
        // Memory we can read in place; no GPU buffers. The pointer's place comes as a meta
        // when the portal's metadata mode was granted (its bitmap is not used).
        const auto tailleCurseur = [](int cote) {
            return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + cote * cote * 4;
        };
        const spa_pod* params[2];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
            SPA_PARAM_META_size,
            SPA_POD_CHOICE_RANGE_Int(tailleCurseur(64), tailleCurseur(1), tailleCurseur(512))));
        pw_stream_update_params(flot, params, 2);
        std::lock_guard v(verrou);
        coupeConnue = false;
    }

    // On the PipeWire thread, with the loop locked by the caller.
    bool connecter() {
        const auto f = Portail::commun().flux();
        if (!f) return false;
        const int fd = Portail::commun().ouvrirPipeWire();
        if (fd < 0) return false;
        contexte = pw_context_new(pw_thread_loop_get_loop(boucle), nullptr, 0);
        coeur = contexte ? pw_context_connect_fd(contexte, fd, nullptr, 0) : nullptr;
        if (!coeur) {
            if (!contexte) ::close(fd);
            fermer();
            return false;
        }
        flot = pw_stream_new(coeur, "vimba-ecran",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
                                               "Screen", nullptr));
        static const pw_stream_events evenements = [] {
            pw_stream_events ev{};
            ev.version = PW_VERSION_STREAM_EVENTS;
            ev.state_changed = [](void* d, pw_stream_state, pw_stream_state etat, const char*) {
                auto* e = static_cast<Etat*>(d);
                if (etat == PW_STREAM_STATE_ERROR || etat == PW_STREAM_STATE_UNCONNECTED) {
                    e->perdu = true;
                    e->nouvelle.notify_all();
                }
            };
            ev.param_changed = [](void* d, std::uint32_t id, const spa_pod* param) {
                if (id == SPA_PARAM_Format) static_cast<Etat*>(d)->formatChange(param);
            };
            ev.process = [](void* d) { static_cast<Etat*>(d)->recevoir(); };
            return ev;
        }();
        pw_stream_add_listener(flot, &ecouteFlot, &evenements, this);
        std::uint8_t tampon[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(tampon, sizeof(tampon));
        spa_rectangle taille{1920, 1080}, petite{1, 1}, grande{16384, 16384};
        spa_fraction cadence{30, 1}, lente{0, 1}, rapide{240, 1};
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
            SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB, SPA_VIDEO_FORMAT_ARGB,
                                   SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&taille, &petite, &grande), SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&cadence, &lente, &rapide)));
        perdu = false;
        if (pw_stream_connect(flot, PW_DIRECTION_INPUT, f->noeud,
                              static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params,
                              1) < 0) {
            fermer();
            return false;
        }
        return true;
    }

    // Where the main output sits in the frame, once per format.
    void couper() {
        if (coupeConnue) return;
        coupeConnue = true;
        origineCoupe.reset();
        const auto f = Portail::commun().flux();
        const auto s = sortiePrincipale();
        if (!f || !s || f->largeur <= 0 || f->hauteur <= 0 || largeur <= 0) return;
        if (s->largeur >= f->largeur && s->hauteur >= f->hauteur) return;
        const double k = static_cast<double>(largeur) / f->largeur;
        const int x = std::clamp(static_cast<int>((s->x - f->x) * k), 0, largeur - 1);
        const int y = std::clamp(static_cast<int>((s->y - f->y) * k), 0, hauteur - 1);
        largeurCoupe = std::min(largeur - x, static_cast<int>(s->largeur * k));
        hauteurCoupe = std::min(hauteur - y, static_cast<int>(s->hauteur * k));
        if (largeurCoupe > 0 && hauteurCoupe > 0) origineCoupe = std::pair{x, y};
    }
};

ImagesPortail& ImagesPortail::commun() {
    // Never destroyed: the PipeWire thread may still be delivering while the process exits.
    static ImagesPortail* i = new ImagesPortail();
    return *i;
}

ImagesPortail::ImagesPortail() : e_(new Etat) {
    pw_init(nullptr, nullptr);
    e_->boucle = pw_thread_loop_new("vimba-pipewire", nullptr);
    if (e_->boucle) pw_thread_loop_start(e_->boucle);
}

bool ImagesPortail::demarrer(int millisecondes) {
    if (!e_->boucle || Portail::commun().etat() != EtatPortail::Accorde) return false;
    pw_thread_loop_lock(e_->boucle);
    if (e_->perdu || !e_->flot) {
        e_->fermer();
        std::lock_guard v(e_->verrou);
        e_->largeur = e_->hauteur = 0;
    }
    const bool ok = e_->flot || e_->connecter();
    pw_thread_loop_unlock(e_->boucle);
    if (!ok) return false;
    std::unique_lock v(e_->verrou);
    e_->nouvelle.wait_for(v, std::chrono::milliseconds(millisecondes), [&] { return e_->largeur > 0 || e_->perdu; });
    return e_->largeur > 0;
}

bool ImagesPortail::lire(std::uint64_t apres, int millisecondes, const std::function<void(const VueImage&)>& lecteur) {
    std::unique_lock v(e_->verrou);
    e_->nouvelle.wait_for(v, std::chrono::milliseconds(millisecondes), [&] { return e_->numero > apres || e_->perdu; });
    if (e_->largeur <= 0 || e_->image.empty()) return false;
    e_->couper();
    VueImage vue{e_->image.data(), e_->largeur, e_->hauteur, e_->largeur * 4, e_->numero};
    if (e_->origineCoupe) {
        vue.pixels += static_cast<std::size_t>(e_->origineCoupe->second) * vue.pas + static_cast<std::size_t>(e_->origineCoupe->first) * 4;
        vue.largeur = e_->largeurCoupe;
        vue.hauteur = e_->hauteurCoupe;
    }
    lecteur(vue);
    return true;
}

std::optional<ImagesPortail::Pointeur> ImagesPortail::pointeur() const {
    std::lock_guard v(e_->verrou);
    if (!e_->curseur || e_->largeur <= 0) return std::nullopt;
    e_->couper();
    Pointeur p{e_->curseur->first, e_->curseur->second, e_->largeur, e_->hauteur};
    if (e_->origineCoupe) {
        p.x -= e_->origineCoupe->first;
        p.y -= e_->origineCoupe->second;
        p.largeur = e_->largeurCoupe;
        p.hauteur = e_->hauteurCoupe;
    }
    return p;
}

long ImagesPortail::msDepuisDerniere() const {
    std::lock_guard v(e_->verrou);
    if (e_->numero == 0) return 1L << 30;
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - e_->arrivee).count());
}

std::uint64_t ImagesPortail::dernier() const {
    std::lock_guard v(e_->verrou);
    return e_->numero;
}

}  // namespace vimba::wayland
