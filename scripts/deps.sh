#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Safe to run again.
set -eu
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v parallel >/dev/null 2>&1 || need+=(parallel)
[ -f /usr/include/libmseed.h ] || need+=(libmseed-dev)
command -v mseed2sac >/dev/null 2>&1 || need+=(mseed2sac)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v gnuplot >/dev/null 2>&1 || need+=(gnuplot-nox)
command -v xmllint >/dev/null 2>&1 || need+=(libxml2-utils)
[ -x /usr/bin/time ] || need+=(time)
# The chain scripts: progress, their ssh-mode test, lint, man-page check.
command -v pv >/dev/null 2>&1 || need+=(pv)
[ -x /usr/sbin/sshd ] || need+=(openssh-server)
command -v ssh >/dev/null 2>&1 || need+=(openssh-client)
command -v shellcheck >/dev/null 2>&1 || need+=(shellcheck)
command -v groff >/dev/null 2>&1 || need+=(groff-base)
command -v script >/dev/null 2>&1 || need+=(bsdutils)
command -v slurmctld >/dev/null 2>&1 || need+=(slurm-wlm)
command -v munged >/dev/null 2>&1 || need+=(munge)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
