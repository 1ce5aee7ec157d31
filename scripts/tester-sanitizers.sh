#!/usr/bin/env bash
# The stream and H.264 tests again under ThreadSanitizer (build-tsan) and AddressSanitizer with
# UndefinedBehaviorSanitizer (build-asan): only their targets are built. Any report fails.
# Tests that time the server against wall-clock bounds are left to the plain build.
set -uo pipefail
cd "$(dirname "$0")/.."
cibles=(essais_flux essais_flux_bureau essais_h264)
lents='SansSource|EcranFixe|NeLitJamais|DeuxCents|PlusDeDescripteurs|ReglerChanges'
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
export ASAN_OPTIONS="halt_on_error=1 detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
echec=0
for sorte in tsan asan; do
  case $sorte in
    # Threads: the server, the capture source, the engine core and the encoder's stop.
    tsan) drapeaux="-fsanitize=thread"; essais='^(Flux|CapteurX11|CoeurH264|EncodeurTest)\.' ;;
    asan) drapeaux="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
          essais='^(Format|Acceptation|Tuiles|Masque|Lecteur|Flux|CapteurX11|EncodeurTest|LogiqueH264|DecodeurH264|CoeurH264)\.' ;;
  esac
  cmake -S . -B "build-$sorte" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMBA_BENCH=OFF \
    -DCMAKE_C_FLAGS="$drapeaux" -DCMAKE_CXX_FLAGS="$drapeaux" -DCMAKE_EXE_LINKER_FLAGS="$drapeaux" >/dev/null &&
    cmake --build "build-$sorte" -j"$(nproc)" --target "${cibles[@]}" &&
    # A sanitiser's report ends the test process with an error: ctest fails with it.
    VIMBA_XVFB=1 scripts/avec-bureau.sh ctest --test-dir "build-$sorte" --output-on-failure -j1 --timeout 300 \
      -R "$essais" -E "$lents" || echec=1
done
exit $echec
