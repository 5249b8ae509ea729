#include "app/service/mosquitto_api.h"

#include <dlfcn.h>

#include <type_traits>

const TMosquittoApi* MosquittoApi(std::string& error) {
    static TMosquittoApi api;
    static std::string failure;
    static const bool loaded = [] {
        void* library = dlopen("libmosquitto.so.1", RTLD_NOW | RTLD_LOCAL);  // kept for the process's life
        if (library == nullptr) {
            failure = std::string("MQTT needs libmosquitto1: ") + dlerror();
            return false;
        }
        bool all = true;
        const auto load = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
            if (function == nullptr) {
                failure = std::string("libmosquitto lacks ") + name;
                all = false;
            }
        };
        load(api.connack_string, "mosquitto_connack_string");
        load(api.connect_async, "mosquitto_connect_async");
        load(api.connect_callback_set, "mosquitto_connect_callback_set");
        load(api.destroy, "mosquitto_destroy");
        load(api.disconnect, "mosquitto_disconnect");
        load(api.disconnect_callback_set, "mosquitto_disconnect_callback_set");
        load(api.int_option, "mosquitto_int_option");
        load(api.lib_cleanup, "mosquitto_lib_cleanup");
        load(api.lib_init, "mosquitto_lib_init");
        load(api.loop_start, "mosquitto_loop_start");
        load(api.loop_stop, "mosquitto_loop_stop");
        load(api.message_callback_set, "mosquitto_message_callback_set");
        load(api.create, "mosquitto_new");
        load(api.publish, "mosquitto_publish");
        load(api.publish_callback_set, "mosquitto_publish_callback_set");
        load(api.reconnect_delay_set, "mosquitto_reconnect_delay_set");
        load(api.strerror, "mosquitto_strerror");
        load(api.subscribe, "mosquitto_subscribe");
        load(api.tls_set, "mosquitto_tls_set");
        load(api.username_pw_set, "mosquitto_username_pw_set");
        load(api.will_set, "mosquitto_will_set");
        return all;
    }();
    if (!loaded) error = failure;
    return loaded ? &api : nullptr;
}
