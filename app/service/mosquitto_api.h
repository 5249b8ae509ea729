#pragma once
// libmosquitto, loaded when the daemon is given a broker: without --mqtt
// the daemon maps neither it nor the TLS libraries it brings, and stays
// as small in memory as before.

#include <mosquitto.h>

#include <string>

struct TMosquittoApi {
    decltype(&::mosquitto_connack_string) connack_string;
    decltype(&::mosquitto_connect_async) connect_async;
    decltype(&::mosquitto_connect_callback_set) connect_callback_set;
    decltype(&::mosquitto_destroy) destroy;
    decltype(&::mosquitto_disconnect) disconnect;
    decltype(&::mosquitto_disconnect_callback_set) disconnect_callback_set;
    decltype(&::mosquitto_int_option) int_option;
    decltype(&::mosquitto_lib_cleanup) lib_cleanup;
    decltype(&::mosquitto_lib_init) lib_init;
    decltype(&::mosquitto_loop_start) loop_start;
    decltype(&::mosquitto_loop_stop) loop_stop;
    decltype(&::mosquitto_message_callback_set) message_callback_set;
    decltype(&::mosquitto_new) create;
    decltype(&::mosquitto_publish) publish;
    decltype(&::mosquitto_publish_callback_set) publish_callback_set;
    decltype(&::mosquitto_reconnect_delay_set) reconnect_delay_set;
    decltype(&::mosquitto_strerror) strerror;
    decltype(&::mosquitto_subscribe) subscribe;
    decltype(&::mosquitto_tls_set) tls_set;
    decltype(&::mosquitto_username_pw_set) username_pw_set;
    decltype(&::mosquitto_will_set) will_set;
};

// The library's calls, or nullptr with the reason when it cannot be loaded.
const TMosquittoApi* MosquittoApi(std::string& error);
