#!/usr/bin/env bash
# The shipped ZephrinAcpiDxe.efi on a real UEFI firmware: QEMU + OVMF.
#
# Builds what it needs, injects the test platform (tests/qemu) and the driver
# into OVMF's DXE volume, and boots four times on one copy of the variable
# store: boot 1 on the custom path (capture), boots 2 and 3 on the certified
# path (restore), boot 4 on the certified path after the cache was damaged.
# Each boot ends in the dump application, whose files the host then checks.
# Prints one line per check and "qemu e2e: N passed, N failed"; exit status 0
# only when every check passed.
#
# Usage: scripts/qemu-e2e.sh [--summary] [--keep DIR]
#   --summary   also print what each boot did (scripts/demo.sh --qemu)
#   --keep DIR  run in DIR and keep it (serial logs, dumps, images)
#   --checks-only DIR  check the boots kept in DIR again, without booting
# Environment: ZEPHRIN_BUILD_DIR (default build), OVMF_CODE, OVMF_VARS,
# QEMU_BOOT_TIMEOUT (seconds per boot, default 120).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEPHRIN_BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
# The 4 MiB pair: the 2 MiB OVMF_CODE.fd of Debian has too little room left in
# its DXE volume for two more drivers, and its 128 KiB store is tighter too.
ovmf_code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
ovmf_vars=${OVMF_VARS:-/usr/share/OVMF/OVMF_VARS_4M.fd}
boot_timeout=${QEMU_BOOT_TIMEOUT:-120}
summary=0
checks_only=0
work=""
while [ $# -gt 0 ]; do
  case $1 in
    --summary) summary=1 ;;
    --keep) work=$2; shift ;;
    --checks-only) work=$2; checks_only=1; shift ;;
    *) echo "usage: $0 [--summary] [--keep DIR] [--checks-only DIR]" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
elif [ $checks_only -eq 0 ]; then
  rm -rf "$work"
fi
mkdir -p "$work"
start=$SECONDS

# GUIDs of the two injected files and of the protocols their dependency
# expressions name.
test_platform_file=6B7A750B-F681-4D6C-B2DC-41859AB90F3A
driver_file=2552C00F-3CE4-4B17-915C-369A014A4CAE   # the driver's caller id
dsdt_file=D15CAF98-DC18-463F-B544-1D1C64EEEA0C     # DSDT file of the platform volume
acpi_table_protocol=FFE06BDD-6107-46A6-7BB2-5A9C7EC5275C
test_platform_ready=EA4F5939-E5B6-42CD-BE53-3D5CA71E0F2E
variable_arch=1E5668E2-8481-11D4-BCF1-0080C73C8881
variable_write_arch=6441F818-6362-4E44-B570-7DBA31DD2453
variable_policy=81D1675C-86F6-48DF-BD95-9A6E4F0925C3
cache_guid=79660E97-514B-4CFC-873F-02B3AB00C086

die() { echo "qemu e2e: $*" >&2; echo "qemu e2e: 0 passed, 1 failed"; exit 1; }

fw=$build/firmware
tools=$build/tools
varstore_tool=$tools/efi-varstore/efi-varstore
# Regions the meta data keeps (NVS and NON-NVS), which the restore moves.
relocated_regions="GNVS BNVS CNVS SNV0 SNV1 _SB.SCRA.NNVS"
declare -A boot_seconds
if [ $checks_only -eq 0 ]; then
# --- build ------------------------------------------------------------------
[ -f "$build/build.ninja" ] || bash "$root/scripts/build.sh" "$build" >"$work/build.log" 2>&1 \
  || { tail -30 "$work/build.log"; die "build failed"; }
targets=(firmware fv-inject acpi-meta acpi-cache-inspect efi-varstore zephrin-demo zephrin_acpi_fixtures)
cmake --build "$build" --target "${targets[@]}" >"$work/build.log" 2>&1 \
  || { tail -30 "$work/build.log"; die "build of ${targets[*]} failed"; }
for tool in qemu-system-x86_64 iasl acpiexec mkfs.fat mcopy; do
  command -v $tool >/dev/null || die "$tool is not installed (bash scripts/deps.sh)"
done
[ -f "$ovmf_code" ] && [ -f "$ovmf_vars" ] || die "OVMF images not found ($ovmf_code, $ovmf_vars)"

# --- the platform's data: fixture tables, meta data, region list -------------
fixtures=$work/acpi
mkdir -p "$fixtures"
cp "$build"/fixtures/acpi/*.aml "$fixtures/" || die "compiled fixtures missing"
# The restore takes the DSDT only from a firmware volume: the platform volume's
# file, instead of the sample description's stored copy.
sed "s/^table DSDT stored/table DSDT from-fv file=$dsdt_file/" "$root/tests/fixtures/acpi/platform.meta" \
  >"$fixtures/qemu.meta"
# Boot 3's platform asks for the last three tables at ExitBootServices. A
# deferred table waits only for the next phase, so the chain ZPNONNVS
# (EndOfDxe), APIC (ReadyToBoot), MCFG (ExitBootServices) puts MCFG into the
# driver's ExitBootServices notification.
sed "s/^table SSDT:ZPNONNVS stored\$/& rank=exit-boot-services/" "$fixtures/qemu.meta" >"$fixtures/qemu-ebs.meta"
printf 'table APIC stored rank=exit-boot-services\ntable MCFG stored rank=exit-boot-services\n' >>"$fixtures/qemu-ebs.meta"
for variant in "" -ebs; do
  "$tools/acpi-meta/acpi-meta" build "$fixtures/qemu$variant.meta" --container "$work/product-data$variant.bin" \
    --info "$work/product-data-info.bin" >"$work/acpi-meta.log" 2>&1 || die "acpi-meta failed: $(cat "$work/acpi-meta.log")"
done
(cd "$fixtures" && cat facp.aml facs.aml dsdt.aml ssdt_nvs.aml ssdt_nonnvs.aml apic.aml mcfg.aml hpet.aml) \
  >"$work/acpi-tables.bin"
cp "$fixtures/dsdt.aml" "$work/volume-dsdt.bin"
cat >"$work/regions.txt" <<'EOF'
DSDT \GNVS
DSDT \BNVS
DSDT \CNVS
SSDT:ZPNVSTBL \SNV0
SSDT:ZPNVSTBL \SNV1
SSDT:ZPNONNVS \_SB.SCRA.PNVS
SSDT:ZPNONNVS \_SB.SCRA.NNVS
EOF

# --- firmware image -----------------------------------------------------------
"$tools/fv-inject/fv-inject" "$ovmf_code" "$work/code.fd" \
  --driver "$fw/ZephrinTestPlatformDxe.efi" --guid $test_platform_file --name ZephrinTestPlatformDxe \
  --depex $acpi_table_protocol \
  --driver "$fw/ZephrinAcpiDxe.efi" --guid $driver_file --name ZephrinAcpiDxe \
  --depex $test_platform_ready,$variable_arch,$variable_write_arch,$acpi_table_protocol,$variable_policy \
  >"$work/fv-inject.log" 2>&1 || die "fv-inject failed: $(cat "$work/fv-inject.log")"
cp "$ovmf_vars" "$work/vars.fd"

# --- boots ------------------------------------------------------------------
# boot N PATH PRODUCT-DATA [extra qemu args...]: one boot to the dump
# application on a fresh FAT drive; its files land in $work/bootN, its serial
# log in bootN.serial.
boot() {
  local n=$1 path=$2 product_data=$3
  shift 3
  local drive=$work/boot$n.img dir=$work/boot$n
  rm -rf "$drive" "$dir"
  mkfs.fat -C -n ZEPHRIN "$drive" 16384 >/dev/null
  mmd -i "$drive" ::/EFI ::/EFI/BOOT
  mcopy -i "$drive" "$fw/ZephrinQemuApp.efi" ::/EFI/BOOT/BOOTX64.EFI
  local t0=$SECONDS
  timeout "$boot_timeout" qemu-system-x86_64 -machine q35,acpi=off -accel tcg -m 2560 -nodefaults \
    -display none -no-reboot \
    -drive if=pflash,format=raw,readonly=on,file="$work/code.fd" \
    -drive if=pflash,format=raw,file="$vars_file" \
    -drive format=raw,file="$drive" \
    -serial file:"$work/boot$n.raw" \
    -fw_cfg name=opt/zephrin/path,string="$path" \
    -fw_cfg name=opt/zephrin/acpi-tables,file="$work/acpi-tables.bin" \
    -fw_cfg name=opt/zephrin/product-data,file="$product_data" \
    -fw_cfg name=opt/zephrin/product-data-info,file="$work/product-data-info.bin" \
    -fw_cfg name=opt/zephrin/volume-dsdt,file="$work/volume-dsdt.bin" \
    -fw_cfg name=opt/zephrin/regions,file="$work/regions.txt" \
    "$@" >"$work/boot$n.qemu" 2>&1
  echo $? >"$work/boot$n.status"
  boot_seconds[$n]=$((SECONDS - t0))
  echo "${boot_seconds[$n]}" >"$work/boot$n.seconds"
  # The console's escape sequences out, line ends normalised.
  sed 's/\x1b\[[0-9;=?]*[a-zA-Z]//g' "$work/boot$n.raw" | tr -d '\r' >"$work/boot$n.serial"
  mkdir -p "$dir"
  mcopy -s -n -i "$drive" '::/*' "$dir/" 2>/dev/null
  touch "$dir/report.txt"
  # The application's lines end in CR LF, as its formatter writes them.
  sed -i 's/\r$//' "$dir/report.txt"
}

corrupt_note=""
corrupt_status=1
# The compressed-size field of the cache header is made to claim far more
# bytes than the variable holds: the driver must refuse the whole cache.
corrupt_cache_on_host() {
  local data=$work/cache-before-boot4.bin
  "$varstore_tool" get "$work/vars.fd" AcpiDataCache $cache_guid "$data" >"$work/varstore.log" 2>&1 || return 1
  printf '\xf0\xff\xff\xff' | dd of="$data" bs=1 count=4 conv=notrunc status=none
  "$varstore_tool" set "$work/vars.fd" AcpiDataCache $cache_guid 0x3 "$data" >>"$work/varstore.log" 2>&1
}

ebs_boot=(-fw_cfg name=opt/zephrin/exit-boot-services,string=1)
vars_file=$work/vars.fd
boot 1 custom "$work/product-data.bin"
cp "$work/vars.fd" "$work/vars-after-boot1.fd"
boot 2 certified "$work/product-data.bin"
boot 3 certified "$work/product-data-ebs.bin" "${ebs_boot[@]}"
corrupt_note="the host damaged AcpiDataCache in the variable file"
corrupt_cache_on_host
corrupt_status=$?
echo "$corrupt_note" >"$work/corrupt.note"
echo "$corrupt_status" >"$work/corrupt.status"
boot 4 certified "$work/product-data.bin"

# Boot 5: a store the simulator wrote. A simulated custom-path boot of the same
# driver image, with the same meta data, writes AcpiDataCache into a fresh copy
# of OVMF's variable file; OVMF then boots on that file.
cp "$ovmf_vars" "$work/vars-sim.fd"
"$tools/zephrin-demo/zephrin-demo" --store "$work/vars-sim.fd" --boots 1 --certified 0 --log "$work/sim-boot.log" \
  --meta "$fixtures/qemu.meta" >"$work/sim-boot.out" 2>&1
echo $? >"$work/sim-boot.status"
vars_file=$work/vars-sim.fd
boot 5 certified "$work/product-data.bin"

else
  for n in 1 2 3 4 5; do boot_seconds[$n]=$(cat "$work/boot$n.seconds" 2>/dev/null); done
  corrupt_note=$(cat "$work/corrupt.note")
  corrupt_status=$(cat "$work/corrupt.status")
fi
# --- checks -----------------------------------------------------------------
rm -f "$work/checks.txt"
passed=0
failed=0
# With --summary the check lines go to checks.txt and only failures are shown.
result() {  # result STATUS TEXT
  local line
  if [ "$1" -eq 0 ]; then
    line="PASS $2"
    passed=$((passed + 1))
  else
    line="FAIL $2"
    failed=$((failed + 1))
  fi
  echo "$line" >>"$work/checks.txt"
  [ $summary -eq 0 ] || [ "$1" -ne 0 ] && echo "$line"
}
check() {  # check TEXT COMMAND...
  local text=$1
  shift
  "$@" >/dev/null 2>&1
  result $? "$text"
}
serial_has() { grep -qF -- "$2" "$work/boot$1.serial"; }
serial_lacks() { ! grep -qF -- "$2" "$work/boot$1.serial"; }
report_has() { grep -qE -- "^$2\$" "$work/boot$1/report.txt"; }
report_field() {  # report_field N KIND NAME FIELD: the value after FIELD on the line "KIND NAME ..."
  awk -v kind="$2" -v name="$3" -v field="$4" \
    '$1 == kind && $2 == name { for (i = 3; i < NF; i++) if ($i == field) print $(i + 1) }' "$work/boot$1/report.txt"
}
table_names() { awk '$1 == "table" { print $2 }' "$work/boot$1/report.txt"; }

# Bytes of a file whose 8-bit sum is not zero: a table with a wrong checksum.
checksum_ok() { od -An -v -tu1 "$1" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { exit (s % 256) }'; }

# Non-AML tables: equal except the bytes listed (offsets, 0-based).
equal_except() {  # equal_except A B OFFSET...
  local a=$1 b=$2
  shift 2
  [ "$(stat -c %s "$a")" = "$(stat -c %s "$b")" ] || return 1
  local allowed=" $* "
  while read -r offset _; do
    [[ $allowed == *" $((offset - 1)) "* ]] || return 1
  done < <(cmp -l "$a" "$b")
  return 0
}

# AML tables: iasl disassembles both; every differing line must be the
# declaration of an object the meta data patches (region, Name constant).
aml_equal_except() {  # aml_equal_except A B NAME...
  local d
  d=$(mktemp -d)
  cp "$1" "$d/captured.aml"
  cp "$2" "$d/restored.aml"
  shift 2
  iasl -d "$d/captured.aml" >/dev/null 2>&1 && iasl -d "$d/restored.aml" >/dev/null 2>&1 || { rm -rf "$d"; return 1; }
  local names
  names=$(IFS='|'; echo "$*")
  local strip='^ \*|^/\*|^$'
  local unexpected
  unexpected=$(diff <(grep -vE "$strip" "$d/captured.dsl") <(grep -vE "$strip" "$d/restored.dsl") | grep '^[<>]' |
    grep -vE "(OperationRegion|Name) \\(($names)," | wc -l)
  rm -rf "$d"
  [ "$unexpected" -eq 0 ]
}

moved_below_4g() {  # moved_below_4g BEFORE AFTER (0x... addresses)
  [[ $1 =~ ^0x[0-9A-Fa-f]+$ && $2 =~ ^0x[0-9A-Fa-f]+$ ]] || return 1
  (($2 != $1 && $2 < (1 << 32)))
}

# Objects whose AML the restore rewrites, per table (from the meta data).
patched_dsdt="GNVS BNVS IBYT IWRD IDWD"
patched_nvstbl="SNV0 SNVA SNVL"
stored_sig() { case $1 in table-HPET.bin) return 1 ;; *) return 0 ;; esac; }  # HPET: not-stored

# -- boot 1: capture
check "boot 1: the driver chose the custom path" serial_has 1 "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Doing Custom Work"
check "boot 1: the custom-path group started the capture" serial_has 1 "CustomPathReadyToBootNotification() - Enter"
check "boot 1: the FADT, FACS and DSDT were captured" \
  bash -c "grep -qF 'ProcessFadt() Entry.' '$work/boot1.serial' && grep -qF 'ProcessFacs() Entry.' '$work/boot1.serial' && grep -qF 'ProcessDsdt() Entry.' '$work/boot1.serial'"
check "boot 1: no failure notification" serial_lacks 1 "failure notification"
check "boot 1: the application ran and wrote its report" report_has 1 "end"
check "boot 1: AcpiDataCache has attributes NV+BS" report_has 1 "cache attributes 0x3 size [0-9]+ status Success"
check "boot 1: acpi-cache-inspect accepts the stored cache" "$tools/acpi-cache-inspect/acpi-cache-inspect" --efivarfs "$work/boot1/cache.bin"
check "boot 1: AcpiCacheLockIndicator is 1 (BS+RT, volatile)" report_has 1 "lock attributes 0x6 size 1 value 1 status Success"
check "boot 1: overwriting AcpiDataCache got EFI_WRITE_PROTECTED" report_has 1 "overwrite status Write Protected"
# The store file as boot 1 left it (boots 2 and 3 do not write the cache).
"$varstore_tool" get "$work/vars-after-boot1.fd" AcpiDataCache $cache_guid "$work/cache-in-store.bin" \
  >"$work/cache-in-store.attributes" 2>&1
check "boot 1: the variable file holds AcpiDataCache, NV+BS, as the firmware returned it" \
  bash -c "grep -qx 0x00000003 '$work/cache-in-store.attributes' && cmp -s '$work/cache-in-store.bin' <(tail -c +5 '$work/boot1/cache.bin')"
check "boot 1: the driver's read path on the simulator loads the cache taken from OVMF's variable file" \
  "$tools/acpi-cache-inspect/acpi-cache-inspect" --raw "$work/cache-in-store.bin"
check "boot 1: acpi-cache-inspect --varstore reads the cache from OVMF's variable file" \
  "$tools/acpi-cache-inspect/acpi-cache-inspect" --varstore "$work/vars-after-boot1.fd"

# -- boots 2 and 3: restore
for n in 2 3; do
  check "boot $n: the driver chose the certified path" serial_has $n "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Doing Certified Work"
  check "boot $n: EndOfDxe and ReadyToBoot phases ran" \
    bash -c "grep -qF 'AcpiCertifiedPathEndOfDxeNotification() - Enter' '$work/boot$n.serial' && grep -qF 'AcpiCertifiedPathReadyToBootNotification() - Enter' '$work/boot$n.serial'"
  check "boot $n: no failure notification" serial_lacks $n "failure notification"
  check "boot $n: the application ran and wrote its report" report_has $n "end"
  for name in $(table_names 1); do
    captured=$work/boot1/$name
    restored=$work/boot$n/$name
    if ! stored_sig "$name"; then
      check "boot $n: $name (not stored) is not installed" test ! -e "$restored"
      continue
    fi
    if [ $n -eq 3 ] && [ "$name" = table-MCFG.bin ]; then
      check "boot $n: $name (rank exit-boot-services) is not installed before ExitBootServices" test ! -e "$restored"
      continue
    fi
    case $name in
      table-FACP.bin) check "boot $n: $name installed, equal to the captured one but for FACS/DSDT pointers" \
        equal_except "$captured" "$restored" 9 36 37 38 39 40 41 42 43 132 133 134 135 136 137 138 139 140 141 142 143 144 145 146 147 ;;
      table-DSDT.bin) check "boot $n: $name installed, equal to the captured one but for $patched_dsdt" \
        aml_equal_except "$captured" "$restored" $patched_dsdt ;;
      table-SSDT-ZPNVSTBL.bin) check "boot $n: $name installed, equal to the captured one but for $patched_nvstbl" \
        aml_equal_except "$captured" "$restored" $patched_nvstbl ;;
      *) check "boot $n: $name installed, equal to the captured one" equal_except "$captured" "$restored" 9 ;;
    esac
    [ "$name" = table-FACS.bin ] || check "boot $n: $name has a valid checksum" checksum_ok "$restored"
  done
  # ACPICA loads the restored tables and evaluates what the restore wrote.
  snv1=$(report_field $n region '\SNV1' address)
  acpiexec -b "evaluate \IBYT; evaluate \IWRD; evaluate \IDWD; evaluate \IQWD; evaluate \SNVA; evaluate \SNVL; dump \GNVS; dump \BNVS; dump \SNV0" \
    "$work/boot$n/table-DSDT.bin" "$work/boot$n/table-SSDT-ZPNVSTBL.bin" "$work/boot$n/table-SSDT-ZPNONNVS.bin" \
    >"$work/boot$n.acpiexec" 2>&1
  check "boot $n: acpiexec loads the restored DSDT and SSDTs" grep -qF "3 ACPI AML tables successfully acquired and loaded" "$work/boot$n.acpiexec"
  evaluated() { awk -v name="$2" '/^Evaluating/ { cur = $2 } /\[Integer\] =/ && cur == name { print tolower($3) }' "$work/boot$1.acpiexec"; }
  # The Address lines of the three dumps, in command order.
  dumped() { awk -v want="$2" '/Address :/ { a[++n] = $3 } END { print a[want] }' "$work/boot$1.acpiexec"; }
  # IBYT: the record's default (0x11); IWRD: stored, the captured 0x1234; IDWD:
  # its variable does not exist, so the record's default 0; IQWD: not stored,
  # untouched; SNVA/SNVL: the relocated \SNV1.
  check "boot $n: \\IBYT evaluates to the meta data default 0x11" test "$(evaluated $n '\IBYT')" = 0000000000000011
  check "boot $n: \\IWRD evaluates to the captured 0x1234" test "$(evaluated $n '\IWRD')" = 0000000000001234
  check "boot $n: \\IDWD evaluates to the default 0 (no PlatformIdDword variable)" test "$(evaluated $n '\IDWD')" = 0000000000000000
  check "boot $n: \\IQWD (not stored) keeps its AML value" test "$(evaluated $n '\IQWD')" = 123456789abcdef0
  check "boot $n: \\SNVA evaluates to the relocated \\SNV1 address $snv1" \
    test "$(evaluated $n '\SNVA')" = "$(printf %016x "$((snv1))" 2>/dev/null)"
  check "boot $n: \\SNVL evaluates to the \\SNV1 length 0x100" test "$(evaluated $n '\SNVL')" = 0000000000000100
  for index_region in "1 GNVS" "2 BNVS" "3 SNV0"; do
    set -- $index_region
    check "boot $n: ACPICA places \\$2 where the application found it" \
      test "$(dumped $n $1)" = "$(report_field $n region "\\$2" address | tr A-F a-f)"
  done
  # Every region the meta data keeps: moved below 4 GiB, holding the captured bytes.
  for region in $relocated_regions; do
    before=$(report_field 1 region "\\$region" address)
    after=$(report_field $n region "\\$region" address)
    check "boot $n: \\$region moved from $before to $after, below 4 GiB" moved_below_4g "$before" "$after"
    kind=ACPINVS
    [ "$region" = _SB.SCRA.NNVS ] && kind=Reserved  # NON-NVS: reserved pages
    check "boot $n: \\$region restored into $kind memory" test "$(report_field $n region "\\$region" memory)" = $kind
    if [ "$region" = GNVS ]; then
      # \GNVS also holds the address and length of \CNVS (0x10, 0x14), which
      # the restore points at the moved \CNVS.
      cnvs=$(report_field $n region '\CNVS' address)
      check "boot $n: \\GNVS holds the captured bytes, its \\CNVS fields the moved \\CNVS ($cnvs)" \
        bash -c "$(declare -f equal_except); equal_except '$work/boot1/region-GNVS.bin' '$work/boot$n/region-GNVS.bin' 16 17 18 19 20 21 &&
          test \"\$(od -An -tx4 -j16 -N4 '$work/boot$n/region-GNVS.bin' | tr -d ' ')\" = \"\$(printf %08x $cnvs)\" &&
          test \"\$(od -An -tx2 -j20 -N2 '$work/boot$n/region-GNVS.bin' | tr -d ' ')\" = 0040"
    else
      check "boot $n: \\$region holds the captured bytes" cmp -s "$work/boot1/region-$region.bin" "$work/boot$n/region-$region.bin"
    fi
  done
done

# -- boot 3 also: a table installed from the ExitBootServices notification.
# The application leaves boot services as an OS loader does and reports, on
# COM1, every table of the XSDT with the type the map it handed to
# ExitBootServices gives the table's address.
ebs_line() { grep -E "^ebs table $1 " "$work/boot3.serial" | head -1; }
hex_of() { od -An -v -tx1 "$1" | tr -d ' \n' | tr a-f A-F; }
check "boot 3: the application's ExitBootServices succeeded" serial_has 3 "ebs exit status Success"
# UEFI 2.70 firmware: the before-ExitBootServices group (UEFI 2.8) is never
# signalled; the application's member of it allocates, and would make the
# first ExitBootServices call fail if it ran before the map key check.
check "boot 3: OVMF (UEFI 2.70) does not signal the before-ExitBootServices group" \
  grep -qE '^ebs attempts 1 first Success before-exit notifications 0$' "$work/boot3.serial"
check "boot 3: the driver installed MCFG inside ExitBootServices" \
  bash -c "sed -n '/ZephrinQemuApp: leaving boot services/,\$p' '$work/boot3.serial' | grep -qF 'Delayed installation of MCFG table'"
check "boot 3: MCFG installed inside ExitBootServices equals the captured one" \
  test "$(ebs_line MCFG | sed 's/.* bytes //')" = "$(hex_of "$work/boot1/table-MCFG.bin")"
# On OVMF the DXE core keeps a bin of pages per ACPI memory type and reports a
# whole bin with its type, so a table allocated after the map was taken still
# lies in memory the loader's map calls ACPIReclaim. A firmware without such
# bins (or with the bin used up) would hand out conventional memory here.
check "boot 3: MCFG lies in memory the loader's map calls ACPIReclaim" \
  test "$(ebs_line MCFG | awk '{ for (i = 1; i < NF; i++) if ($i == "memory") print $(i + 1) }')" = ACPIReclaim
check "boot 3: the XSDT after ExitBootServices lies in ACPIReclaim memory of the loader's map" \
  grep -qE '^ebs xsdt address 0x[0-9A-F]+ memory ACPIReclaim$' "$work/boot3.serial"

# -- boot 4: a damaged cache
result $corrupt_status "boot 4: $corrupt_note"
check "boot 4: the driver chose the certified path" serial_has 4 "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Doing Certified Work"
check "boot 4: the refused cache is logged" serial_has 4 "[DoCertifiedWork] - Failed to get stored ACPI data:"
check "boot 4: the failure is notified (code 8)" serial_has 4 "failure notification, code 8"
check "boot 4: no table is installed from the damaged cache" report_has 4 "rsdp none"
check "boot 4: the firmware still boots to the application" report_has 4 "end"

# -- boot 5: the simulator's store on OVMF
"$varstore_tool" get "$work/vars-sim.fd" AcpiDataCache $cache_guid "$work/sim-cache.bin" >"$work/sim-cache.attributes" 2>&1
check "boot 5: a simulated custom-path boot wrote AcpiDataCache (NV+BS) into a copy of OVMF's variable file" \
  bash -c "[ \"\$(cat '$work/sim-boot.status')\" = 0 ] && grep -qx 0x00000003 '$work/sim-cache.attributes'"
check "boot 5: OVMF boots on that store and the driver chose the certified path" \
  serial_has 5 "ZephrinAcpiDxe:ZephrinAcpiDxeEntryPoint() - Doing Certified Work"
check "boot 5: no failure notification" serial_lacks 5 "failure notification"
check "boot 5: the application ran and wrote its report" report_has 5 "end"
for name in $(table_names 2); do
  case $name in
    table-DSDT.bin) check "boot 5: $name restored from the simulator's capture, equal to boot 2's but for $patched_dsdt" \
      aml_equal_except "$work/boot2/$name" "$work/boot5/$name" $patched_dsdt ;;
    table-SSDT-ZPNVSTBL.bin) check "boot 5: $name restored from the simulator's capture, equal to boot 2's but for $patched_nvstbl" \
      aml_equal_except "$work/boot2/$name" "$work/boot5/$name" $patched_nvstbl ;;
    table-FACP.bin) check "boot 5: $name restored from the simulator's capture, equal to boot 2's but for FACS/DSDT pointers" \
      equal_except "$work/boot2/$name" "$work/boot5/$name" 9 36 37 38 39 40 41 42 43 132 133 134 135 136 137 138 139 140 141 142 143 144 145 146 147 ;;
    *) check "boot 5: $name restored from the simulator's capture, equal to boot 2's" \
      equal_except "$work/boot2/$name" "$work/boot5/$name" 9 ;;
  esac
done
check "boot 5: table-HPET.bin (not stored) is not installed" test ! -e "$work/boot5/table-HPET.bin"
for region in $relocated_regions; do
  check "boot 5: \\$region moved below 4 GiB" \
    moved_below_4g "$(report_field 1 region "\\$region" address)" "$(report_field 5 region "\\$region" address)"
done
cnvs5=$(report_field 5 region '\CNVS' address)
check "boot 5: \\GNVS, from the simulator's capture, points at the moved \\CNVS ($cnvs5)" \
  bash -c "test \"\$(od -An -tx4 -j16 -N4 '$work/boot5/region-GNVS.bin' | tr -d ' ')\" = \"\$(printf %08x $cnvs5)\""

total=$((SECONDS - start))
if [ $summary -eq 1 ]; then
  for n in 1 2 3 4 5; do
    path=$(awk '$1 == "path" { print $2 }' "$work/boot$n/report.txt")
    echo "Boot $n (${path:-unknown} path): ${boot_seconds[$n]} s, $( [ -s "$work/boot$n/report.txt" ] && echo "application reached" || echo "application NOT reached")"
    tables=$(awk '$1 == "table" { sub(/^table-/, "", $2); sub(/\.bin$/, "", $2); printf "%s ", $2 }' "$work/boot$n/report.txt")
    echo "  tables in the XSDT: ${tables:-none}"
    if [ $n -eq 1 ]; then
      echo "  variable store: $(grep '^variables ' "$work/boot1/report.txt")"
      echo "  AcpiDataCache: $(grep '^cache ' "$work/boot1/report.txt")"
      echo "  AcpiCacheLockIndicator: $(grep '^lock ' "$work/boot1/report.txt")"
      echo "  overwrite of AcpiDataCache: $(awk '$1 == "overwrite" { $1 = $2 = ""; print }' "$work/boot1/report.txt")"
    elif [ $n -lt 4 ]; then
      echo "  regions restored by the driver (captured address -> restored address, memory type):"
      for region in $relocated_regions; do
        printf '    \\%-14s %s -> %s %s\n' "$region" "$(report_field 1 region "\\$region" address)" \
          "$(report_field $n region "\\$region" address)" "$(report_field $n region "\\$region" memory)"
      done
      if [ $n -eq 3 ]; then
        echo "  after the application's ExitBootServices (map the loader holds):"
        grep -E '^ebs (table|xsdt)' "$work/boot3.serial" | awk '{ printf "    %s %s %s\n", $2 == "xsdt" ? "XSDT" : $3, $(2 + ($2 == "xsdt" ? 2 : 3)), $(($2 == "xsdt") ? 6 : 9) }'
      fi
    elif [ $n -eq 4 ]; then
      echo "  $corrupt_note; $(grep -F '[DoCertifiedWork]' "$work/boot4.serial" | head -1)"
    else
      echo "  on the variable file a simulated custom-path boot wrote (AcpiDataCache $(stat -c %s "$work/sim-cache.bin" 2>/dev/null) bytes)"
    fi
  done
fi
echo "boot times: 1: ${boot_seconds[1]} s, 2: ${boot_seconds[2]} s, 3: ${boot_seconds[3]} s, 4: ${boot_seconds[4]} s, 5: ${boot_seconds[5]} s; whole run ${total} s"
echo "qemu e2e: $passed passed, $failed failed"
[ $failed -eq 0 ]
