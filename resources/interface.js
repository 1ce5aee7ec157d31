'use strict';
// The page's side of the bridge: posts actions to "vimba" and shows the notices it gets.

function envoyer(message) {
  const pont = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.vimba;
  if (pont) pont.postMessage(message);
}

function $(id) { return document.getElementById(id); }

// What a « Réessayer » does: the code again while it is being checked, the administrator
// step once that has begun.
let dernierCode = '';
let etape = 'code';
// Closing asks for the password: one at a time, and nothing else meanwhile.
let fermeture = false;

function annoncer(texte) {
  const zone = $('annonces');
  zone.textContent = '';
  // A fresh node makes screen readers read the same sentence twice in a row too.
  window.setTimeout(() => { zone.textContent = texte; }, 30);
}

function montrerVue(id, focus) {
  for (const vue of document.querySelectorAll('.vue')) vue.hidden = vue.id !== id;
  const cible = focus ? $(focus) : $(id).querySelector('h2');
  if (cible) {
    if (cible.tagName === 'H2') cible.tabIndex = -1;
    cible.focus();
  }
}

function montrerAvancement(titre, message) {
  $('titre-avancement').textContent = titre;
  $('message-avancement').textContent = message;
  montrerVue('vue-avancement');
  annoncer(message ? titre + ' ' + message : titre);
}

function montrerSouci(texte) {
  $('message-souci').textContent = texte;
  montrerVue('vue-souci', 'bouton-reessayer');
  annoncer(texte);
}

function bloquer(oui) {
  for (const bouton of document.querySelectorAll('button')) bouton.disabled = oui;
}

function montrerAutorisations(texte) {
  const [ecran, agir] = texte.split(' ');
  const marquer = (id, oui) => {
    const li = $(id);
    li.classList.toggle('oui', oui);
    li.classList.toggle('non', !oui);
    li.querySelector('.marque').textContent = oui ? '✓' : '✗';
    li.setAttribute('aria-label', li.querySelector('.libelle').textContent + (oui ? ' : autorisé' : ' : pas encore autorisé'));
  };
  marquer('aut-ecran', ecran === '1');
  marquer('aut-agir', agir === '1');
  $('bouton-autoriser').hidden = ecran === '1' && agir === '1';
}

// The status line is a live region: written only when the state changes, so a screen
// reader speaks each change once and not every watch tick.
function montrerVeille(actif) {
  const texte = actif ? 'Ilvo est connecté' : 'En attente d’Ilvo…';
  $('voyant').className = 'voyant ' + (actif ? 'actif' : 'calme');
  if ($('texte-veille').textContent !== texte) $('texte-veille').textContent = texte;
}

// Called by the application with a kind and a text.
function repondre(sorte, texte) {
  switch (sorte) {
    case 'permissions':
      montrerAutorisations(texte);
      break;
    case 'avancement': {
      etape = 'admin';
      const barre = texte.indexOf('|');
      montrerAvancement(barre >= 0 ? texte.slice(0, barre) : texte, barre >= 0 ? texte.slice(barre + 1) : '');
      break;
    }
    case 'ouverte':
      document.body.classList.add('ouverte');
      montrerVeille(false);
      montrerVue('vue-ouverte', 'bouton-arreter');
      annoncer('L’accès est ouvert. Vous pouvez terminer le dépannage à tout moment.');
      break;
    case 'veille':
      if (!fermeture) montrerVeille(texte === 'actif');
      break;
    case 'fermee':
      fermeture = false;
      bloquer(false);
      document.body.classList.remove('ouverte', 'petit');
      montrerVue('vue-fermee', 'bouton-recommencer');
      annoncer('Le dépannage est terminé.');
      break;
    case 'code-refuse':
      $('erreur-code').textContent = texte;
      $('erreur-code').hidden = false;
      $('code').setAttribute('aria-invalid', 'true');
      montrerVue('vue-code', 'code');
      // Kept and selected: a new code replaces it as it is typed, a typo is fixed in place.
      $('code').select();
      annoncer(texte);
      break;
    case 'souci':
    case 'souci-reprise':
      if (sorte === 'souci-reprise') etape = 'admin';
      montrerSouci(texte);
      break;
  }
}
window.repondre = repondre;

function envoyerCode(code) {
  dernierCode = code;
  etape = 'code';
  montrerAvancement('Vérification du code…', '');
  envoyer({ action: 'code', code: code });
}

function terminer() {
  if (fermeture) return;
  fermeture = true;
  bloquer(true);
  montrerAvancement('Fermeture…', 'L’accès d’Ilvo se ferme. Votre ordinateur peut vous demander votre mot de passe.');
  envoyer({ action: 'arreter' });
}

// Permissions may have changed in the system's settings while the window was behind.
let dernierRetour = 0;
function auRetour() {
  if (document.visibilityState !== 'visible') return;
  const maintenant = Date.now();
  if (maintenant - dernierRetour < 500) return;
  dernierRetour = maintenant;
  envoyer({ action: 'revoir-autorisations' });
}

// Tab and Shift+Tab go round the page's visible controls: otherwise every other press leaves
// the page for the window's frame, where nothing shows the focus (one button in the panel).
function tourner(e) {
  if (e.key !== 'Tab' || e.altKey || e.ctrlKey || e.metaKey) return;
  const visibles = [...document.querySelectorAll('button, input, a[href]')]
    .filter((el) => !el.disabled && el.getClientRects().length > 0);
  if (visibles.length === 0) return;
  const premier = visibles[0], dernier = visibles[visibles.length - 1];
  const ici = document.activeElement;
  const nulle = !ici || ici === document.body;
  if (e.shiftKey && (ici === premier || nulle)) {
    e.preventDefault();
    dernier.focus();
  } else if (!e.shiftKey && (ici === dernier || nulle)) {
    e.preventDefault();
    premier.focus();
  }
}

document.addEventListener('DOMContentLoaded', () => {
  document.addEventListener('keydown', tourner);
  $('formulaire-code').addEventListener('submit', (e) => {
    e.preventDefault();
    const code = $('code').value.trim();
    if (!code) {
      $('erreur-code').textContent = 'Tapez d’abord le code donné par Ilvo.';
      $('erreur-code').hidden = false;
      $('code').setAttribute('aria-invalid', 'true');
      $('code').focus();
      return;
    }
    $('erreur-code').hidden = true;
    $('code').removeAttribute('aria-invalid');
    envoyerCode(code);
  });
  $('bouton-reessayer').addEventListener('click', () => {
    if (etape === 'admin') envoyer({ action: 'reprendre' });
    else envoyerCode(dernierCode);
  });
  $('bouton-nouveau-code').addEventListener('click', () => montrerVue('vue-code', 'code'));
  $('bouton-arreter').addEventListener('click', terminer);
  $('bouton-recommencer').addEventListener('click', () => { $('code').value = ''; montrerVue('vue-code', 'code'); });
  $('bouton-autoriser').addEventListener('click', () => envoyer({ action: 'autorise' }));
  $('bouton-quitter').addEventListener('click', () => envoyer({ action: 'fermer' }));
  window.addEventListener('focus', auRetour);
  document.addEventListener('visibilitychange', auRetour);
  $('code').focus();
});
