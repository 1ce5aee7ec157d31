#!/usr/bin/env bash
# Who may use the channel and watch the stream, tried through the real agent as other
# local accounts: the technician account is served, a third account is not, a folder not
# made as the session makes it is not served, planted links are never followed.
# Needs root for the throwaway accounts (exit 77, skipped, otherwise).
# Usage: acces_test.sh BUILD_DIR   (run inside scripts/avec-bureau.sh)
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to create accounts"; exit 77; }
. "$(dirname "$0")/../bureau.sh" "$1" acces
tech=vimba-technicien
tiers=vimba-essai-$$

# The technician account as the session's activation makes it.
getent passwd "$tech" >/dev/null || useradd --system --shell /bin/sh --password '*' --no-create-home \
  --home-dir /nonexistent "$tech" 2>/dev/null || getent passwd "$tech" >/dev/null || { echo "no $tech"; exit 1; }
useradd --shell /bin/sh --no-create-home --home-dir /nonexistent "$tiers" || exit 1
nettoyer() { userdel "$tiers" 2>/dev/null; }
chmod 755 "$tmp"
D=$dossier
chgrp "$tech" "$D" && chmod 2770 "$D"
comme() { local u=$1; shift; runuser -u "$u" -- "$@"; }
# Drops a request as ACCOUNT and prints its reply, or "rien" after 10 s.
poser() {  # account id text
  comme "$1" sh -c "printf '%s' \"\$2\" > \"\$1/demande-\$3.tmp\" && mv \"\$1/demande-\$3.tmp\" \"\$1/demande-\$3\"" sh "$D" "$3" "$2"
  attendre "$D/reponse-$2"
}
attendre() {  # file [hundredths of a second]
  for _ in $(seq "${2:-1000}"); do [ -e "$1" ] && { cat "$1"; return; }; sleep 0.01; done
  echo rien
}
# The first two bytes the stream sends ACCOUNT, empty when it is closed on it.
regarder() {  # account port
  comme "$1" bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1" || exit; timeout 4 head -c 2 <&3' bash "$2" 2>/dev/null
}

"$agent" --dossier "$D" 2>"$tmp/agent.err" & pid=$!; pids+=($pid)

# The technician's request is answered, its reply readable by the technician only.
r=$(poser "$tech" t1 etat); verifier "a request by the technician account is answered" "ok ecran=1" "${r%% agir=*}"
verifier "the reply is 0640 in the technician's group" "640 $tech" "$(stat -c '%a %G' "$D/reponse-t1")"
r=$(comme "$tech" cat "$D/reponse-t1"); verifier "the technician reads it" "ok ecran=1" "${r%% agir=*}"
comme "$tiers" cat "$D/reponse-t1" >/dev/null 2>&1; verifier "a third account cannot read it" refused "$([ $? -ne 0 ] && echo refused)"
comme "$tiers" sh -c "echo etat > '$D/demande-x'" 2>/dev/null; verifier "a third account cannot write the folder" refused "$([ $? -ne 0 ] && echo refused)"
r=$(printf 'presse-ecrire\nsecret' | comme "$tech" "$demande" --dossier "$D"); verifier "vimba-demande as the technician" "ok presse 6 caractères" "$r"

# A request owned by a third account (planted by root) is removed unanswered.
printf 'presse-lire' > "$D/demande-z.tmp"; chown "$tiers" "$D/demande-z.tmp"; mv "$D/demande-z.tmp" "$D/demande-z"
r=$(poser "$tech" z2 etat)  # taken after it, so the first has been judged
verifier "a third account's request is removed unanswered" "absent absent" \
  "$([ -e "$D/demande-z" ] && echo present || echo absent) $([ -e "$D/reponse-z" ] && echo present || echo absent)"

# A folder open to others, shared with a group that is not the technician's, or opened to a
# third account by an ACL entry, is not served.
for cas in "2777 $tech - others" "2770 $tiers - another-group" "2770 $tech u:$tiers:rx an-ACL"; do
  set -- $cas
  chgrp "$2" "$D"; chmod "$1" "$D"; [ "$3" = - ] || setfacl -m "$3" "$D"
  printf 'etat' > "$D/demande-m.tmp"; mv "$D/demande-m.tmp" "$D/demande-m"
  verifier "a folder with ${4//-/ } access is not served" rien "$(attendre "$D/reponse-m" 150)"
  setfacl -b "$D"; chgrp "$tech" "$D"; chmod 2770 "$D"
  verifier "and is served again once closed" "ok ecran=1" "$(r=$(attendre "$D/reponse-m"); echo "${r%% agir=*}")"
  rm -f "$D/reponse-m"
done

# Links planted under the names files were once written through are replaced, never followed.
echo intact > "$tmp/victime"
for n in flux.port.tmp flux.port vue.jpg vue.txt ".vue.jpg.$pid.tmp" ".vue.txt.$pid.tmp" ".vue.jpg.$pid.outil"; do
  comme "$tech" ln -s "$tmp/victime" "$D/$n"
done
r=$(poser "$tech" v vue); verifier "vue answers" "ok vue" "${r%% [0-9]*}"
r=$(poser "$tech" f 'flux 1024 45 tuiles')
[[ $r =~ ^ok\ flux\ ([0-9]+) ]] && port=${BASH_REMATCH[1]} || port=0
verifier "the victim of the planted links is intact" intact "$(cat "$tmp/victime")"
verifier "screenshots and port are plain 0640 files of the technician's group" \
  "640 $tech regular file|640 $tech regular file|640 $tech regular file" \
  "$(stat -c '%a %G %F' "$D/vue.jpg" "$D/vue.txt" "$D/flux.port" | paste -sd '|')"
verifier "flux.port holds the port" "$port" "$(cat "$D/flux.port")"

# The stream: the agent's own account and the technician's, nobody else.
verifier "a third account's connection is closed at once" "" "$(regarder "$tiers" "$port")"
verifier "the technician's connection gets the stream" "F " "$(regarder "$tech" "$port")"
verifier "the agent's own account gets the stream" "F " "$(regarder root "$port")"
r=$(poser "$tech" s flux-stop); verifier "flux-stop" "ok flux arrêté" "$r"
verifier "flux.port is removed when the stream stops" absent "$([ -e "$D/flux.port" ] && echo present || echo absent)"

bilan
