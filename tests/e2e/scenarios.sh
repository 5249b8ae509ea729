#!/usr/bin/env bash
# The program as a person uses it, one scenario per run:
#   bash tests/e2e/scenarios.sh SCENARIO
# Each starts a fresh copy of the real program under Wine with the simulated
# modem on COM12, acts with real clicks and keys, and checks what the person
# and the device see. CTest runs every scenario under two locales.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

e2e_place+=([port_label]="20 15" [pulse_label]="20 90")

title='Tovan-компьютер включает и выключает устройство через модем'
port_label='Номер СОМ-порта, к которому подключен модем'  # СОМ in Cyrillic letters
wrong_port='COM-порт указан неверно. Нажмите "Сброс" и введите другой порт.'  # COM in Latin letters

# Settings as the program writes them (its section and keys).
write_settings() { printf '[params]\r\np1=%s\r\np2=%s\r\n' "$1" "$2" >"$e2e_home/com i dlit.ini"; }

first_start() {
    e2e_start
    wait_for_main_window
    [[ $main_title == "$title" ]] || fail "the title is '$main_title'"
    expect_text port_label "$port_label"
    expect_text pulse_label 'Длительность импульса, с'
    expect_text about 'O программе '  # a Latin O and one blank
    expect_text reset 'Сброс'
    expect_text switch 'Включить'
    expect_text port ''
    expect_text pulse ''
    expect_text error ''
    expect_lamp unlit
    [[ ! -e $e2e_dir/com\ i\ dlit.ini ]] || fail "a settings file appeared before any edit"
}

editing() {
    e2e_start
    wait_for_main_window
    check_port() {
        [[ $(settings) == "[params]\r|p1=$1\r|" ]] || fail "after typing '$1' the settings are '$(settings)'"
    }
    type_into port 34 check_port
    check_pulse() {
        [[ $(settings) == "[params]\r|p1=34\r|p2=$1\r|" ]] || fail "after typing '$1' the settings are '$(settings)'"
    }
    type_into pulse 15 check_pulse
    # Read back at the next start.
    kill "$e2e_program"
    wait "$e2e_program" 2>/dev/null || true
    e2e_start
    wait_for_main_window
    expect_text port 34
    expect_text pulse 15
}

switching() {
    write_settings "$e2e_port" 0
    e2e_start
    wait_for_main_window
    expect_text port "$e2e_port"
    local clicked on off
    clicked=$(now_ms)
    click switch
    on=$(expect_command 1 "$on_hex")
    note "ATH1 reached the modem $((on - clicked)) ms after the click"
    ((on - clicked >= 150 && on - clicked < 2000)) || fail "ATH1 came $((on - clicked)) ms after the click"
    wait_for_text switch 'Отключить'
    expect_lamp lit
    expect_text error ''
    clicked=$(now_ms)
    click switch
    off=$(expect_command 2 "$off_hex")
    note "ATH reached the modem $((off - clicked)) ms after the click"
    wait_for_text switch 'Включить'
    expect_lamp unlit
    expect_no_command_after 2 1.5  # a pulse of "0" never switches off by itself
}

pulse() {
    write_settings "$e2e_port" 2
    e2e_start
    wait_for_main_window
    click switch
    local on off
    on=$(expect_command 1 "$on_hex")
    wait_for_text switch 'Отключить'
    expect_lamp lit
    off=$(expect_command 2 "$off_hex" 5)
    note "the 2 s pulse: ATH came $((off - on)) ms after ATH1"
    ((off - on >= 1200 && off - on <= 2600)) || fail "ATH came $((off - on)) ms after ATH1"
    wait_for_text switch 'Включить'
    expect_lamp unlit
}

wrong_port() {
    write_settings 99 0  # no such port
    e2e_start
    wait_for_main_window
    click switch
    wait_for_text error "$wrong_port" 3
    message_line_is_red || fail "the message is not shown in red"
    expect_text switch 'Включить'
    expect_lamp unlit
    # Reset clears the message; with the right port the next click switches on.
    click reset
    wait_for_text error ''
    click port
    xdotool key End BackSpace BackSpace
    xdotool type "$e2e_port"
    sleep 0.2
    click switch
    expect_command 1 "$on_hex" >/dev/null
    wait_for_text switch 'Отключить'
    expect_lamp lit
}

remote() {
    write_settings "$e2e_port" 0
    e2e_start
    wait_for_main_window
    local requests=$e2e_dir/vr.ini
    printf '[znah]\r\np1=1\r\n' >"$requests"
    expect_command 1 "$on_hex" 4 >/dev/null
    wait_for_text switch 'Отключить'
    expect_lamp lit
    sleep 0.5
    ! grep -q 'p1=' "$requests" || fail "the request was not deleted after the switch: $(cat "$requests")"
    printf '[znah]\r\np1=5\r\n' >"$requests"
    expect_command 2 "$off_hex" 4 >/dev/null
    wait_for_text switch 'Включить'
    expect_lamp unlit
    expect_no_command_after 2 2  # the deleted request asks nothing more
}

about() {
    write_settings "$e2e_port" 3
    e2e_start
    wait_for_main_window
    click switch
    expect_command 1 "$on_hex" >/dev/null
    click about
    local info='' deadline=$((SECONDS + 5))
    until info=$(window_of_width 808) && [[ -n $info ]]; do
        ((SECONDS < deadline)) || fail "the About window did not appear"
        sleep 0.2
    done
    local handle
    read -r handle _ _ _ _ about_title <<<"$info"
    [[ $about_title == 'О программе' ]] || fail "the About window's title is '$about_title'"
    shows_text 'Программа включения выключения исполнительного устройства \r\nс использованием в качестве устройства сопряжения \r\nаналогового модема. \r\n\r\n\r\n\r\n' ||
        fail "the About text is missing"
    # The switching goes on meanwhile: the pulse ends.
    expect_command 2 "$off_hex" 5 >/dev/null
    wait_for_text switch 'Включить'
    # Closing only hides it; the button shows the same window again.
    close_active_window
    sleep 0.5
    [[ -z $(window_of_width 808) ]] || fail "the About window is still shown after closing it"
    kill -0 "$e2e_program" || fail "closing the About window ended the program"
    click about
    sleep 0.5
    [[ $(window_of_width 808) == "$handle "* ]] || fail "the About window came back as another window"
}

info_switch() {
    e2e_start /iq
    local info='' deadline=$((SECONDS + 20))
    until info=$(probe | awk -F'\t' '$1 == "window" && $3 == "#32770" && $4 == 1') && [[ -n $info ]]; do
        ((SECONDS < deadline)) || fail "no message box appeared"
        sleep 0.2
    done
    [[ $(cut -f11 <<<"$info") == 'Quvex Info' ]] || fail "the box's title is '$(cut -f11 <<<"$info")'"
    shows_text 'Сделано в Quvex.' || fail "the box does not say 'Сделано в Quvex.'"
    [[ -z $(probe | awk -F'\t' '$1 == "window" && $3 == "obj_Form"') ]] || fail "/iq made a window of the program"
    xdotool key Return
    e2e_wait_exit 10
    [[ $e2e_code == 0 ]] || fail "/iq ended with exit code $e2e_code"
    # Only exactly "/iq" as the first argument.
    e2e_start /IQ
    wait_for_main_window
}

closing() {
    write_settings "$e2e_port" 0
    e2e_start
    wait_for_main_window
    click switch
    expect_command 1 "$on_hex" >/dev/null
    expect_lamp lit
    close_active_window
    e2e_wait_exit 15
    [[ $e2e_code == 0 ]] || fail "the program ended with exit code $e2e_code"
    # Closing does not switch the device off, and keeps the settings.
    expect_no_command_after 1 0.5
    [[ $(settings) == "[params]\r|p1=$e2e_port\r|p2=0\r|" ]] || fail "the settings changed: $(settings)"
}

# Resting the pointer on the pulse field shows its hint on the display.
hint() {
    e2e_start
    wait_for_main_window
    local place=${e2e_place[pulse]}
    xdotool mousemove $((main_client_x + ${place% *} + 30)) $((main_client_y + ${place#* } + 10))
    local text='Врнмя в секундах на которое происходит включение. При значении "0" включено постоянно до выключения'
    local deadline=$((SECONDS + 5))
    until probe >"$e2e_dir/probe.txt" &&
        awk -F'\t' -v t="$text" '$1 == "window" && $3 == "tooltips_class32" && $4 == 1 && $11 == t { found = 1 }
                                 END { exit !found }' "$e2e_dir/probe.txt"; do
        ((SECONDS < deadline)) || fail "no hint shown over the pulse field: $(grep tooltips "$e2e_dir/probe.txt")"
        sleep 0.2
    done
    [[ -z ${E2E_SHOT:-} ]] || /usr/bin/import -window root "$E2E_SHOT"
}

# The program in a folder whose name no ANSI code page but one may hold:
# the settings and the requests live there all the same, and a Russian
# value is stored as the same Windows-1251 bytes whatever the system's
# code page is.
in_folder() {
    e2e_move_to "$1"
    e2e_start
    wait_for_main_window
    check_port() {
        [[ $(settings) == "[params]\r|p1=$1\r|" ]] || fail "after typing '$1' the settings are '$(settings)'"
    }
    type_into port "$e2e_port" check_port
    # "ыж" (xdotool types Cyrillic only as key names)
    click pulse
    xdotool key --delay 100 Cyrillic_yeru Cyrillic_zhe
    sleep 0.2
    local bytes
    bytes=$(od -An -tx1 "$e2e_home/com i dlit.ini" | tr -d ' \n')
    [[ $bytes == "$(printf '[params]\r\np1=%s\r\np2=' "$e2e_port" | od -An -tx1 | tr -d ' \n')fbe60d0a" ]] ||
        fail "the Russian value was stored as $bytes"
    xdotool key BackSpace BackSpace
    xdotool type 0
    sleep 0.2
    [[ $(settings) == "[params]\r|p1=$e2e_port\r|p2=0\r|" ]] || fail "the settings are '$(settings)'"
    printf '[znah]\r\np1=1\r\n' >"$e2e_home/vr.ini"
    expect_command 1 "$on_hex" 4 >/dev/null
    wait_for_text switch 'Отключить'
    sleep 0.5
    ! grep -q 'p1=' "$e2e_home/vr.ini" || fail "the request was not deleted: $(cat "$e2e_home/vr.ini")"
    [[ -z $(find "$e2e_dir" -name '*.tmp*') ]] || fail "temporary files were left: $(ls -A "$e2e_home")"
}
folder_cyrillic() { in_folder 'Тест папка'; }
folder_greek() { in_folder 'Δοκιμή φάκελος'; }

scenario=${1:?usage: scenarios.sh SCENARIO}
declare -F "$scenario" >/dev/null || fail "no scenario '$scenario'"
echo "scenario $scenario (LC_ALL=${LC_ALL:-})"
e2e_setup
"$scenario"
echo "PASS: $scenario"
