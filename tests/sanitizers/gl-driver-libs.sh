#!/usr/bin/env bash
# Prints the Mesa GL driver libraries of this machine as a colon-separated list (for LD_PRELOAD in
# the sanitizer test run, so that they stay mapped until exit and LeakSanitizer can name them).
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
libs=()
for lib in /usr/lib/$arch/dri/swrast_dri.so /usr/lib/$arch/libEGL_mesa.so.0 \
           /usr/lib/$arch/libGLX_mesa.so.0; do
  [ -e "$lib" ] && libs+=("$lib")
done
(IFS=:; echo "${libs[*]}")
