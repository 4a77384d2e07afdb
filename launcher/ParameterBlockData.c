/* The area that the service patches in every copy it hands out: 1024 bytes of
 * text (zero-terminated, zero-filled behind the text), then the SessionEnabled
 * and AutoRemoveEnabled flag bytes. Written as a character list so that the
 * sample exists in the file only as these data bytes; "used" and external
 * linkage keep it through -O2, LTO and strip. */

/* clang-format off */
__attribute__((used)) unsigned char ParameterBlock[1026] = {
    'u', 'r', 'l', '(', 'h', 't', 't', 'p', 's', ':', '/', '/',
    'd', 'e', 'm', 'o', '.', 'z', 'e', 'l', 's', '.', 'e', 'x',
    'a', 'm', 'p', 'l', 'e', '/', 'v', 'e', 'l', 'm', 'o', 'r',
    'a', 'n', '/', ')', 'l', 'a', 'n', 'g', '(', 'e', 'n', ')',
    'o', 'w', 'n', 'e', 'r', '(', '5', '4', '2', '1', '3', ')',
    'c', 'o', 'd', 'e', '(', ')', 'a', 'c', '(', '3', '3', '0',
    '8', ')', 't', 'i', 't', 'l', 'e', '(', 'Z', 'E', 'L', 's',
    'u', 'p', 'p', 'o', 'r', 't', ')', 'c', 'o', 'w', 'n', 'e',
    'r', 'i', 'd', '(', '5', '4', '2', '1', '3', '_', '_', 'k',
    'v', '7', 'r', 'm', '2', 'q', ')',
    [1024] = 1, /* SessionEnabled */
    [1025] = 1, /* AutoRemoveEnabled */
};
/* clang-format on */
