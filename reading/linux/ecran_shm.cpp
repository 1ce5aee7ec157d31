// The main display's pixels on X11. The shared-memory segment is private to this user
// (0600) and marked for removal as soon as the server has attached it, so no other
// process can map it later; it is kept while the display keeps its size. Main thread.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstring>

#include "agent/linux/ecran_x11.h"
#include "agent/linux/piege_x11.h"
#include "reading/photo.h"

namespace vimba::photo {

namespace {

// One XShm image and its segment; detaches itself.
class SegmentShm {
public:
    SegmentShm(Display* d, int largeur, int hauteur) : d_(d) {
        const int ecran = DefaultScreen(d);
        image_ = XShmCreateImage(d, DefaultVisual(d, ecran), static_cast<unsigned>(DefaultDepth(d, ecran)), ZPixmap,
                                 nullptr, &info_, static_cast<unsigned>(largeur), static_cast<unsigned>(hauteur));
        if (!image_) return;
        info_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * image_->height, IPC_CREAT | 0600);
        if (info_.shmid < 0) return;
        info_.shmaddr = image_->data = static_cast<char*>(shmat(info_.shmid, nullptr, 0));
        if (info_.shmaddr == reinterpret_cast<char*>(-1)) {
            info_.shmaddr = image_->data = nullptr;
            shmctl(info_.shmid, IPC_RMID, nullptr);
            return;
        }
        info_.readOnly = False;
        x11::PiegeX piege(d);
        attache_ = XShmAttach(d, &info_) && piege.sain();
        // Gone from the system as soon as both sides let go of it.
        shmctl(info_.shmid, IPC_RMID, nullptr);
    }
    ~SegmentShm() {
        if (attache_) {
            XShmDetach(d_, &info_);
            XSync(d_, False);
        }
        if (info_.shmaddr) shmdt(info_.shmaddr);
        if (image_) {
            image_->data = nullptr;
            XDestroyImage(image_);
        }
    }
    SegmentShm(const SegmentShm&) = delete;
    SegmentShm& operator=(const SegmentShm&) = delete;

    bool pret() const { return attache_; }
    XImage* image() const { return image_; }

private:
    Display* d_;
    XShmSegmentInfo info_{};
    XImage* image_ = nullptr;
    bool attache_ = false;
};

bool formatConnu(const XImage* i) {
    return i->bits_per_pixel == 32 && i->byte_order == LSBFirst && i->red_mask == 0xff0000 && i->green_mask == 0xff00 &&
           i->blue_mask == 0xff;
}

Image copier(const XImage* i) {
    Image r;
    r.largeur = i->width;
    r.hauteur = i->height;
    r.pas = i->bytes_per_line;
    r.pixels.assign(reinterpret_cast<const std::uint8_t*>(i->data),
                    reinterpret_cast<const std::uint8_t*>(i->data) + static_cast<std::size_t>(i->bytes_per_line) * i->height);
    return r;
}

class EcranX11 final : public Ecran {
public:
    EcranX11() : d_(XOpenDisplay(nullptr)) {
        int majeur = 0, mineur = 0;
        Bool pixmaps = False;
        shm_ = d_ && XShmQueryVersion(d_, &majeur, &mineur, &pixmaps);
    }
    ~EcranX11() override {
        segment_.reset();
        if (d_) XCloseDisplay(d_);
    }

    bool lisible() override {
        if (!d_) return false;
        x11::PiegeX piege(d_);
        XImage* i = XGetImage(d_, DefaultRootWindow(d_), 0, 0, 1, 1, AllPlanes, ZPixmap);
        if (i) XDestroyImage(i);
        return i && piege.sain();
    }

    std::pair<int, int> taille() override {
        if (!d_) return {0, 0};
        const auto m = x11::moniteurPrincipal(d_);
        return {m.largeur, m.hauteur};
    }

    std::pair<int, int> origine() override {
        if (!d_) return {0, 0};
        const auto m = x11::moniteurPrincipal(d_);
        return {m.x, m.y};
    }

    std::optional<Image> saisir() override {
        if (!d_) return std::nullopt;
        const auto m = x11::moniteurPrincipal(d_);
        if (m.largeur <= 0 || m.hauteur <= 0) return std::nullopt;
        if (shm_) {
            if (!segment_ || segment_->image()->width != m.largeur || segment_->image()->height != m.hauteur)
                segment_ = std::make_unique<SegmentShm>(d_, m.largeur, m.hauteur);
            if (segment_->pret() && formatConnu(segment_->image())) {
                x11::PiegeX piege(d_);
                if (XShmGetImage(d_, DefaultRootWindow(d_), segment_->image(), m.x, m.y, AllPlanes) && piege.sain())
                    return copier(segment_->image());
            }
            // Shared memory refused (a remote display, a server without it): plain requests from now on.
            segment_.reset();
            shm_ = false;
        }
        x11::PiegeX piege(d_);
        XImage* i = XGetImage(d_, DefaultRootWindow(d_), m.x, m.y, static_cast<unsigned>(m.largeur),
                              static_cast<unsigned>(m.hauteur), AllPlanes, ZPixmap);
        std::optional<Image> r;
        if (i && piege.sain() && formatConnu(i)) r = copier(i);
        if (i) XDestroyImage(i);
        return r;
    }

private:
    Display* d_;
    bool shm_ = false;
    std::unique_ptr<SegmentShm> segment_;
};

}  // namespace

std::unique_ptr<Ecran> ecranX11() { return std::make_unique<EcranX11>(); }

}  // namespace vimba::photo
