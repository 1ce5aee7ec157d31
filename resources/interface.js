'use strict';
// The page's side of the bridge: posts actions to "vimba" and shows the notices it gets.

function envoyer(message) {
  const pont = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.vimba;
  if (pont) pont.postMessage(message);
}

function $(id) { return document.getElementById(id); }

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

function montrerSouci(texte, reprise) {
  $('message-souci').textContent = texte;
  $('bouton-reessayer').hidden = !reprise;
  montrerVue('vue-souci', reprise ? 'bouton-reessayer' : 'bouton-nouveau-code');
  annoncer(texte);
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

// Called by the application with a kind and a text.
function repondre(sorte, texte) {
  switch (sorte) {
    case 'permissions':
      montrerAutorisations(texte);
      break;
    case 'avancement': {
      const barre = texte.indexOf('|');
      const titre = barre >= 0 ? texte.slice(0, barre) : texte;
      const message = barre >= 0 ? texte.slice(barre + 1) : '';
      $('titre-avancement').textContent = titre;
      $('message-avancement').textContent = message;
      montrerVue('vue-avancement');
      annoncer(titre + '. ' + message);
      break;
    }
    case 'ouverte':
      document.body.classList.add('ouverte');
      montrerVue('vue-ouverte', 'bouton-arreter');
      annoncer('Ilvo est connecté. Vous pouvez terminer le dépannage à tout moment.');
      break;
    case 'veille': {
      const actif = texte === 'actif';
      $('voyant').className = 'voyant ' + (actif ? 'actif' : 'calme');
      $('texte-veille').textContent = actif ? 'Ilvo travaille sur votre ordinateur' : 'En attente d’Ilvo';
      break;
    }
    case 'fermee':
      document.body.classList.remove('ouverte', 'petit');
      montrerVue('vue-fermee', 'bouton-recommencer');
      annoncer('Le dépannage est terminé.');
      break;
    case 'code-refuse':
      $('erreur-code').textContent = texte;
      $('erreur-code').hidden = false;
      $('code').setAttribute('aria-invalid', 'true');
      $('code').value = '';
      montrerVue('vue-code', 'code');
      annoncer(texte);
      break;
    case 'souci':
      montrerSouci(texte, false);
      break;
    case 'souci-reprise':
      montrerSouci(texte, true);
      break;
  }
}
window.repondre = repondre;

document.addEventListener('DOMContentLoaded', () => {
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
    $('titre-avancement').textContent = 'Vérification du code…';
    $('message-avancement').textContent = '';
    montrerVue('vue-avancement');
    envoyer({ action: 'code', code: code });
  });
  $('bouton-reessayer').addEventListener('click', () => envoyer({ action: 'reprendre' }));
  $('bouton-nouveau-code').addEventListener('click', () => montrerVue('vue-code', 'code'));
  $('bouton-arreter').addEventListener('click', () => envoyer({ action: 'arreter' }));
  $('bouton-recommencer').addEventListener('click', () => { $('code').value = ''; montrerVue('vue-code', 'code'); });
  $('bouton-autoriser').addEventListener('click', () => envoyer({ action: 'autorise' }));
  $('bouton-quitter').addEventListener('click', () => envoyer({ action: 'fermer' }));
  $('code').focus();
});
